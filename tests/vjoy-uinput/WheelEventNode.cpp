#include "WheelEventNode.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace wendrix::vjoy {

namespace fs = std::filesystem;

namespace {
std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}
}  // namespace

bool UinputWritable() {
  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::string WheelEventNode() {
  std::error_code ec;
  for (fs::directory_iterator it("/sys/class/input", ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (entry.rfind("event", 0) != 0) continue;
    const fs::path dev = it->path() / "device";
    if (FirstLine(dev / "name") == kWheelName && FirstLine(dev / "id/vendor") == "1209" &&
        FirstLine(dev / "id/product") == "5752") {
      return entry;
    }
  }
  return {};
}

bool EventNode::Open() {
  return WaitFor([this] {
    entry_ = WheelEventNode();
    if (entry_.empty()) return false;
    fd_ = open(("/dev/input/" + entry_).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
  });
}

void EventNode::Close() {
  if (dev_) libevdev_free(dev_);
  dev_ = nullptr;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

libevdev* EventNode::Evdev() {
  if (!dev_) libevdev_new_from_fd(fd_, &dev_);
  return dev_;
}

std::optional<Frame> EventNode::NextFrame(WheelClock::duration timeout) {
  Frame frame;
  const auto end = WheelClock::now() + timeout;
  for (;;) {
    input_event ev;
    const ssize_t n = read(fd_, &ev, sizeof ev);
    if (n == static_cast<ssize_t>(sizeof ev)) {
      if (ev.type == EV_SYN && ev.code == SYN_DROPPED) {
        ADD_FAILURE() << "the event node dropped events";
        return std::nullopt;
      }
      frame.push_back(WheelEvent{ev.type, ev.code, ev.value});
      if (ev.type == EV_SYN && ev.code == SYN_REPORT) return frame;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - WheelClock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left));
  }
}

void EventNode::Drain() {
  input_event ev;
  while (read(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) {
  }
}

std::optional<WheelState> EventNode::Shown() const {
  input_absinfo x{}, y{};
  uint8_t keys[KEY_MAX / 8 + 1] = {};
  if (ioctl(fd_, EVIOCGABS(ABS_X), &x) != 0 || ioctl(fd_, EVIOCGABS(ABS_Y), &y) != 0 ||
      ioctl(fd_, EVIOCGKEY(sizeof keys), keys) < 0)
    return std::nullopt;
  WheelState shown{x.value, y.value, 0};
  for (int i = 0; i < kButtonCount; ++i) {
    const int code = BTN_TRIGGER + i;
    if (keys[code / 8] & (1u << (code % 8))) shown.buttons = static_cast<uint8_t>(shown.buttons | (1u << i));
  }
  return shown;
}

}  // namespace wendrix::vjoy
