// A dbus-daemon of its own for tests that talk to a bus: the bus's own
// connection helper and the daemon, which can be killed, started again at
// the same address, stopped and continued.
#pragma once

#include <fcntl.h>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

extern char** environ;

namespace wendrix {

inline sd_bus* Connect(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

// A dbus-daemon of its own, on a socket in a fresh directory. It can be
// killed and started again at the same address, and stopped and continued.
class PrivateBus {
 public:
  PrivateBus() {
    char pattern[] = "/tmp/wendrix-bus-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    address_ = "unix:path=" + (dir_ / "socket").string();
    std::ofstream(dir_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>"
        << address_
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    Start();
  }
  ~PrivateBus() {
    Kill();
    std::filesystem::remove_all(dir_);
  }

  // Starts the daemon, unless it runs; true once it serves.
  bool Start() {
    if (pid_ > 0) return ready_;
    std::filesystem::remove(dir_ / "socket");
    const std::string config = "--config-file=" + (dir_ / "bus.conf").string();
    const char* argv[] = {"dbus-daemon", config.c_str(), "--nofork", "--nopidfile", nullptr};
    // Its complaints go to a log beside the socket, shown if it never serves.
    const std::string log = (dir_ / "daemon.log").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    if (::posix_spawnp(&pid_, "dbus-daemon", &files, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
    ready_ = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      if (sd_bus* probe = Connect(address_)) {
        // Hello answered: the daemon serves.
        const char* unique = nullptr;
        const bool ready = sd_bus_get_unique_name(probe, &unique) >= 0;
        sd_bus_flush_close_unref(probe);
        if (ready) {
          ready_ = true;
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready_;
  }
  // Ends it at once, as a crash would; its clients see the connection go.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    ready_ = false;
  }
  // Freezes it: it accepts no connection and answers nothing until continued.
  void Stop() { ::kill(pid_, SIGSTOP); }
  void Continue() { ::kill(pid_, SIGCONT); }

  bool ready() const { return ready_; }
  std::string log() const {
    std::ifstream in(dir_ / "daemon.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const std::string& address() const { return address_; }

 private:
  std::filesystem::path dir_;
  std::string address_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace wendrix
