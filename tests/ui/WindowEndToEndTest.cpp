// End to end: the program, copied beside the fake driver library, runs on
// an Xvfb display; the phone simulator drives it over UDP and TCP. The
// driver log must see the reports and the window, read back from
// screenshots of the display, must follow and then fall back to idle.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Where the window shows itself and how large it is, in screen pixels.
const QRect kWindow(349, 131, 474, 626);
// Inside the window: the bars' columns, the band of rows that holds the
// bars and the boxes (below the status lines, above the browser pane),
// the status lines' rows, and the boxes' left edges.
constexpr int kBarLeft = 16 + 80, kBarWidth = 331;
constexpr int kControlsTop = 130, kControlsBottom = 270;
constexpr int kStatusTop = 40;
constexpr int kBoxLeft[8] = {63, 151, 224, 256, 288, 320, 352, 384};

// A child process, ended by its id when it goes out of scope.
class Child {
 public:
  Child() = default;
  Child(const std::vector<std::string>& args, const std::vector<std::string>& env, const fs::path& output,
        int fd3 = -1) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool overridden = false;
      for (const std::string& o : env)
        overridden |= entry.substr(0, entry.find('=') + 1) == o.substr(0, o.find('=') + 1);
      if (!overridden) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  Child(const Child&) = delete;
  Child& operator=(Child&& other) noexcept {
    std::swap(pid_, other.pid_);
    return *this;
  }
  ~Child() { Stop(); }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Whether it has ended; collects it if so.
  bool Ended() {
    if (pid_ <= 0) return true;
    if (waitpid(pid_, &status_, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }
  // The wait status once Ended().
  int ExitStatus() const { return status_; }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (auto end = Clock::now() + 10s; Clock::now() < end;) {
      if (Ended()) return;
      std::this_thread::sleep_for(20ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Asks every top-level window named `title` to close, as a window
// manager's close button does; returns how many there were.
int CloseWindows(const std::string& display, const char* title) {
  Display* x = XOpenDisplay(display.c_str());
  if (!x) return 0;
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count);
  const Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False);
  const Atom del = XInternAtom(x, "WM_DELETE_WINDOW", False);
  int closed = 0;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    if (XFetchName(x, children[i], &name) && name && std::strcmp(name, title) == 0) {
      XEvent e{};
      e.xclient.type = ClientMessage;
      e.xclient.window = children[i];
      e.xclient.message_type = protocols;
      e.xclient.format = 32;
      e.xclient.data.l[0] = static_cast<long>(del);
      e.xclient.data.l[1] = CurrentTime;
      XSendEvent(x, children[i], False, NoEventMask, &e);
      ++closed;
    }
    if (name) XFree(name);
  }
  if (children) XFree(children);
  XCloseDisplay(x);
  return closed;
}

// Polls `done` until it holds or the deadline passes.
template <typename F>
bool WaitFor(F done, std::chrono::seconds deadline) {
  for (auto end = Clock::now() + deadline; Clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return done();
}

QImage Shot() {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, kWindow.x(), kWindow.y(), kWindow.width(), kWindow.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

bool SameRows(const QImage& a, const QImage& b, int top, int bottom, int left, int right) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

struct Band {
  int top, bottom;  // rows [top, bottom)
};

// Runs of rows in the controls area where `now` differs from `idle`.
std::vector<Band> ChangedBands(const QImage& idle, const QImage& now) {
  std::vector<Band> bands;
  for (int y = kControlsTop; y < kControlsBottom; ++y) {
    if (SameRows(idle, now, y, y + 1, kBarLeft, kBarLeft + kBarWidth)) continue;
    if (!bands.empty() && bands.back().bottom == y)
      bands.back().bottom = y + 1;
    else
      bands.push_back({y, y + 1});
  }
  return bands;
}

// The share of a bar's columns, in its middle row, that changed.
double BarChange(const QImage& idle, const QImage& now, const Band& bar) {
  const int y = (bar.top + bar.bottom) / 2;
  int changed = 0;
  for (int x = kBarLeft; x < kBarLeft + kBarWidth; ++x) changed += idle.pixel(x, y) != now.pixel(x, y);
  return static_cast<double>(changed) / kBarWidth;
}

QImage Box(const QImage& shot, const Band& row, int k) {
  return shot.copy(16 + kBoxLeft[k], row.top - 2, 18, row.bottom - row.top + 4);
}

// What the driven window shows: steering at half, pedals fully pressed,
// boxes enabled with chk1 and chk3 marked.
std::string DrivenMismatch(const QImage& idle, const QImage& now) {
  const std::vector<Band> bands = ChangedBands(idle, now);
  if (bands.size() != 3) return "expected 3 changed bands, got " + std::to_string(bands.size());
  const double steering = BarChange(idle, now, bands[0]);
  const double pedals = BarChange(idle, now, bands[1]);
  if (steering < 0.4 || steering > 0.6) return "steering bar at " + std::to_string(steering);
  if (pedals < 0.9) return "pedals bar at " + std::to_string(pedals);
  const Band& boxes = bands[2];
  if (Box(now, boxes, 0) != Box(now, boxes, 2)) return "chk1 and chk3 differ";
  if (Box(now, boxes, 1) != Box(now, boxes, 3)) return "chk2 and chk4 differ";
  if (Box(now, boxes, 0) == Box(now, boxes, 1)) return "chk1 looks like chk2";
  if (Box(now, boxes, 1) == Box(idle, boxes, 1)) return "chk2 still greyed";
  if (SameRows(idle, now, kStatusTop, kControlsTop, 75, 441)) return "status lines unchanged";
  return "";
}

// The colour of each built-in page's heading, and whether the pane (below
// the controls) shows some of it.
const QRgb kWaitingHeading = qRgb(0xb0, 0x6a, 0x00);
const QRgb kConnectedHeading = qRgb(0x0a, 0x7a, 0x4a);

bool PaneShows(const QImage& shot, QRgb heading) {
  int pixels = 0;
  for (int y = kControlsBottom; y < shot.height(); ++y)
    for (int x = 16; x < 16 + 425; ++x) pixels += shot.pixel(x, y) == heading;
  return pixels >= 20;
}

// Whether a library whose name holds `name` is mapped into the process.
bool Maps(pid_t pid, const std::string& name) {
  return Slurp("/proc/" + std::to_string(pid) + "/maps").find(name) != std::string::npos;
}

// The processes the program started.
int Children(pid_t pid) {
  int children = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string stat = Slurp(entry.path() / "stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) continue;
    std::istringstream fields(stat.substr(end + 2));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    children += parent == pid;
  }
  return children;
}

// Ports the process listens on at 127.0.0.1, 41503 aside: its page server.
std::vector<int> LoopbackPagePorts(pid_t pid) {
  std::vector<std::string> inodes;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (target.starts_with("socket:[")) inodes.push_back(target.substr(8, target.size() - 9));
  }
  std::vector<int> ports;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state != "0A" || !local.starts_with("0100007F:")) continue;
    if (std::find(inodes.begin(), inodes.end(), inode) == inodes.end()) continue;
    const int port = std::stoi(local.substr(9), nullptr, 16);
    if (port != 41503) ports.push_back(port);
  }
  return ports;
}

// The first line of the answer to a GET of `path` on 127.0.0.1:port.
std::string StatusLine(int port, const std::string& path) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[256];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_WAITALL);
    if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return answer.substr(0, answer.find('\r'));
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wendrix-e2e-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "run");
    fs::permissions(dir_ / "run", fs::perms::owner_all);
    fs::copy_file(PROGRAM_PATH, dir_ / "wendrix");
    fs::copy_file(FAKE_LIBRARY_PATH, dir_ / "libvJoyInterface.so");
  }
  void TearDown() override {
    program_.Stop();
    xvfb_.Stop();
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Starts Xvfb on a free display and points this process at it.
  void StartDisplay() {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    xvfb_ = Child({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x800x24", "-nolisten", "tcp", "-br"}, {},
                  dir_ / "xvfb.log", fds[1]);
    close(fds[1]);
    ASSERT_TRUE(xvfb_.Started());
    std::string number;
    for (auto end = Clock::now() + 60s; Clock::now() < end && number.find('\n') == std::string::npos;) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      char c[16];
      const ssize_t n = read(fds[0], c, sizeof c);
      if (n <= 0) break;
      number.append(c, static_cast<size_t>(n));
    }
    close(fds[0]);
    ASSERT_NE(number.find('\n'), std::string::npos) << Slurp(dir_ / "xvfb.log");
    display_ = ":" + number.substr(0, number.find('\n'));
  }

  std::string DriverLog() const { return Slurp(dir_ / "driver.log"); }

  fs::path dir_;
  std::string display_;
  Child xvfb_;
  Child program_;
};

TEST_F(WindowEndToEnd, PhoneDrivesTheWindowAndSilenceReturnsItToIdle) {
  StartDisplay();
  ASSERT_FALSE(display_.empty());
  program_ =
      Child({(dir_ / "wendrix").string()},
            {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb", "FAKE_VJOY_LOG=" + (dir_ / "driver.log").string(),
             "XDG_RUNTIME_DIR=" + (dir_ / "run").string()},
            dir_ / "program.log");
  ASSERT_TRUE(program_.Started());

  setenv("DISPLAY", display_.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char name[] = "window_e2e_test";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);

  // The window is up and its controls have stopped changing.
  QImage idle;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (DriverLog().find("AcquireVJD 1") == std::string::npos) return false;
        const QImage a = Shot();
        std::this_thread::sleep_for(300ms);
        const QImage b = Shot();
        idle = b;
        return a == b && a.pixel(kBarLeft, kControlsTop) != qRgb(0, 0, 0);
      },
      120s))
      << Slurp(dir_ / "program.log");

  // The pane shows the program's own waiting page, served on 127.0.0.1 to
  // the pane alone: another program that finds the port and asks for the
  // page's path is refused, as it does not know the path's secret.
  const std::vector<int> pagePorts = LoopbackPagePorts(program_.Pid());
  ASSERT_EQ(pagePorts.size(), 1u) << "no page server, or more than one";
  EXPECT_EQ(StatusLine(pagePorts[0], "/zodevur_app/en/waiting.php?v=5.1"), "HTTP/1.1 404 Not Found");
  QImage waiting;
  EXPECT_TRUE(WaitFor(
      [&] {
        waiting = Shot();
        return PaneShows(waiting, kWaitingHeading);
      },
      60s))
      << "the pane does not show the built-in waiting page";
  // The light pane's build shows it without a browser engine: no engine
  // library in the process, and no helper processes.
  EXPECT_EQ(Maps(program_.Pid(), "libQt6WebEngineCore"), BROWSER_ENGINE != 0);
  if (BROWSER_ENGINE == 0) {
    EXPECT_EQ(Children(program_.Pid()), 0);
  }
  // The picture for the README, once the set-up check has filled in.
  WaitFor(
      [&] {
        std::this_thread::sleep_for(1500ms);
        const QImage again = Shot();
        const bool settled = again == waiting;
        waiting = again;
        return settled;
      },
      10s);
  fs::create_directories(ARTIFACT_DIR);
  waiting.save(QString::fromLatin1(ARTIFACT_DIR "/wendrix-waiting.png"));
  idle = waiting;

  // The phone: steering centred, pedals fully pressed, over UDP, and the
  // same with gear up and button 3 held on a legacy TCP stream.
  // A fresh receiver takes legacy numbers 1 to 32767 as newer than its
  // start value 0, so both runs count from 1. They last longer than the
  // waits below: the test, not the end of a run, makes the phone fall
  // silent.
  std::vector<std::string> udp = {PADSIM_PATH, "udp", "127.0.0.1", "--rate", "20", "--sequence", "1"};
  std::vector<std::string> tcp = {PADSIM_PATH, "tcp", "127.0.0.1",  "--legacy",
                                  "--rate",    "20",  "--sequence", "1"};
  for (int i = 0; i < 20 * 90; ++i) {
    udp.push_back("16384,0");
    tcp.push_back("16384,0,0x05");
  }
  Child udpPhone(udp, {}, dir_ / "padsim-udp.log");
  Child tcpPhone(tcp, {}, dir_ / "padsim-tcp.log");

  QImage driven;
  std::string mismatch = "no screenshot";
  WaitFor(
      [&] {
        driven = Shot();
        mismatch = DrivenMismatch(idle, driven);
        return mismatch.empty() || (udpPhone.Ended() && tcpPhone.Ended());
      },
      60s);
  // For the picture only: give the pane a moment to settle.
  WaitFor(
      [&] {
        if (!mismatch.empty()) return true;
        const QImage before = Shot();
        std::this_thread::sleep_for(500ms);
        driven = Shot();
        return before == driven;
      },
      5s);
  driven.save(QString::fromLatin1(ARTIFACT_DIR "/wendrix-running.png"));
  EXPECT_EQ(mismatch, "") << Slurp(dir_ / "padsim-udp.log") << Slurp(dir_ / "padsim-tcp.log");
  EXPECT_TRUE(WaitFor([&] { return PaneShows(Shot(), kConnectedHeading); }, 60s))
      << "the pane does not show the built-in connected page";

  // The phone falls silent.
  const auto silent = Clock::now();
  udpPhone.Stop();
  tcpPhone.Stop();

  // The driver saw the reports: X 16384, Y 0, buttons 1 and 3.
  const std::string expected = "UpdateVJD 1 " + std::string(32, '0') + "00400000" + "00000000";
  const std::string log = DriverLog();
  size_t reports = 0, driven_reports = 0;
  for (size_t at = log.find("UpdateVJD 1 "); at != std::string::npos; at = log.find("UpdateVJD 1 ", at + 1)) {
    ++reports;
    const std::string hex = log.substr(at + 12, 192);
    driven_reports += hex.substr(32, 16) == "0040000000000000" && hex.substr(152, 8) == "05000000";
  }
  EXPECT_GT(driven_reports, 0u) << reports << " reports, none with the phone's values";

  // Back to idle: bars empty, boxes greyed and unmarked, lines disconnected.
  QImage after;
  const bool back = WaitFor(
      [&] {
        after = Shot();
        return SameRows(idle, after, kStatusTop, kControlsBottom, 0, kWindow.width());
      },
      60s);
  after.save(QString::fromLatin1(ARTIFACT_DIR "/wendrix-idle.png"));
  EXPECT_TRUE(back) << "the window did not return to idle";
  // A tick that runs late (a loaded machine) makes the next one come early,
  // so idle may come sooner than a whole tick after the silence; but never
  // at once, as when the end of a stream alone reset the window.
  EXPECT_GE(Clock::now() - silent, 200ms) << "idle before the phone fell silent for a tick";

  // Closing the window while a phone streams ends the process with 0.
  std::vector<std::string> stream = {PADSIM_PATH, "udp", "127.0.0.1", "--rate", "500", "--seconds", "60"};
  Child phone(stream, {}, dir_ / "padsim-close.log");
  ASSERT_TRUE(WaitFor([&] { return DriverLog().size() > log.size(); }, 60s)) << "no reports before the close";
  ASSERT_EQ(CloseWindows(display_, "Wendrix"), 1);
  ASSERT_TRUE(WaitFor([&] { return program_.Ended(); }, 60s)) << "still running after the close";
  EXPECT_TRUE(WIFEXITED(program_.ExitStatus()) && WEXITSTATUS(program_.ExitStatus()) == 0)
      << "wait status " << program_.ExitStatus();
}

// Whether the only network interface is loopback; false when unsure.
bool OnlyLoopback() {
  struct if_nameindex* list = if_nameindex();
  if (!list) return false;
  bool only = true;
  for (auto* i = list; i->if_index != 0; ++i) only &= std::strcmp(i->if_name, "lo") == 0;
  if_freenameindex(list);
  return only;
}

}  // namespace

int main(int argc, char** argv) {
  // The program announces itself on every network it sees: run it only in
  // a private network namespace, made here when the test is not in one.
  if (!OnlyLoopback()) {
    if (std::getenv("WENDRIX_E2E_ISOLATED")) {
      std::fprintf(stderr, "cannot make a private network namespace\n");
      return 1;
    }
    setenv("WENDRIX_E2E_ISOLATED", "1", 1);
    std::vector<char*> args = {
        const_cast<char*>("unshare"), const_cast<char*>(geteuid() == 0 ? "-n" : "-rn"),
        const_cast<char*>("--"),      const_cast<char*>("sh"),
        const_cast<char*>("-c"),      const_cast<char*>("ip link set lo up && exec \"$0\" \"$@\"")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("unshare");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
