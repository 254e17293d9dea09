#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string_view>

#include "status/SystemFacts.h"

namespace wendrix {

namespace {

// The whole file, or false when it cannot be read (absent, no permission).
bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return false;
  text = content.str();
  return true;
}

// Directory entries whose names start with `prefix`, "." and ".." aside.
template <typename Visit>
void ForEachEntry(const std::string& directory, std::string_view prefix, Visit visit) {
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !name.starts_with(prefix)) continue;
    visit(name);
  }
  ::closedir(dir);
}

bool Runs(const std::string& root, std::string_view pid, std::string_view command) {
  const std::string path = root + "/proc/" + std::string(pid) + "/comm";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[64];
  const ssize_t n = ::read(fd, text, sizeof text);
  ::close(fd);
  if (n <= 0) return false;
  const std::string_view name(text, static_cast<size_t>(n));
  return name.substr(0, name.find('\n')) == command;
}

// The number of a process that runs `command`; empty when none does.
std::string FindProcess(const std::string& root, std::string_view command) {
  std::string found;
  ForEachEntry(root + "/proc", "", [&](std::string_view pid) {
    if (found.empty() && pid.find_first_not_of("0123456789") == std::string_view::npos &&
        Runs(root, pid, command))
      found = pid;
  });
  return found;
}

bool ProcessRunning(const std::string& root, std::string_view command, FactsMemory* memory) {
  if (!memory) return !FindProcess(root, command).empty();
  if (!memory->firewallProcess.empty()) {
    if (Runs(root, memory->firewallProcess, command)) return true;
    memory->nextSearch = {};  // gone, or restarted under another number
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < memory->nextSearch) return false;
  memory->nextSearch = now + memory->searchEvery;
  memory->firewallProcess = FindProcess(root, command);
  return !memory->firewallProcess.empty();
}

bool HasLine(const std::string& text, std::string_view wanted) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line == wanted) return true;
  return false;
}

// ufw keeps each rule as a "### tuple ###" comment in user.rules, which
// only root may read on a default installation.
FirewallFacts ReadUfw(const std::string& root) {
  FirewallFacts facts;
  facts.name = "ufw";
  facts.fix = "sudo ufw allow 41503";
  std::string conf;
  if (!ReadWholeFile(root + "/etc/ufw/ufw.conf", conf)) {
    facts.active = Answer::kNo;
    return facts;
  }
  facts.active = HasLine(conf, "ENABLED=yes") ? Answer::kYes : Answer::kNo;
  std::string rules;
  if (!ReadWholeFile(root + "/etc/ufw/user.rules", rules)) {
    facts.detail = "its rules can be read by root only";
    return facts;
  }
  const bool any = rules.find("### tuple ### allow any 41503 ") != std::string::npos;
  const bool tcp = any || rules.find("### tuple ### allow tcp 41503 ") != std::string::npos;
  const bool udp = any || rules.find("### tuple ### allow udp 41503 ") != std::string::npos;
  facts.allowsLinkPort = tcp && udp ? Answer::kYes : Answer::kNo;
  if (facts.allowsLinkPort == Answer::kNo) facts.detail = "no rule lets TCP and UDP 41503 in";
  return facts;
}

// firewalld's own zones live under /usr/lib; only zones changed by the
// administrator are in /etc, so a port found there is the one sure answer.
FirewallFacts ReadFirewalld(const std::string& root, FactsMemory* memory) {
  FirewallFacts facts;
  facts.name = "firewalld";
  facts.fix =
      "sudo firewall-cmd --permanent --add-port=41503/tcp --add-port=41503/udp && "
      "sudo firewall-cmd --reload";
  facts.active = ProcessRunning(root, "firewalld", memory) ? Answer::kYes : Answer::kNo;
  bool tcp = false;
  bool udp = false;
  const std::string zones = root + "/etc/firewalld/zones/";
  ForEachEntry(zones, "", [&](std::string_view name) {
    std::string zone;
    if (!ReadWholeFile(zones + std::string(name), zone)) return;
    tcp = tcp || zone.find("protocol=\"tcp\" port=\"41503\"") != std::string::npos ||
          zone.find("port=\"41503\" protocol=\"tcp\"") != std::string::npos;
    udp = udp || zone.find("protocol=\"udp\" port=\"41503\"") != std::string::npos ||
          zone.find("port=\"41503\" protocol=\"udp\"") != std::string::npos;
  });
  if (tcp && udp)
    facts.allowsLinkPort = Answer::kYes;
  else
    facts.detail = "no zone changed in /etc/firewalld opens 41503";
  return facts;
}

FirewallFacts ReadFirewall(const std::string& root, FactsMemory* memory) {
  FirewallFacts firewalld = ReadFirewalld(root, memory);
  if (firewalld.active == Answer::kYes) return firewalld;
  FirewallFacts ufw = ReadUfw(root);
  if (ufw.active == Answer::kYes) return ufw;
  FirewallFacts none;
  none.active = Answer::kNo;
  none.detail = "neither ufw nor firewalld is on; rules loaded otherwise can be read by root only";
  return none;
}

}  // namespace

SystemFacts ReadSystemFacts(const std::string& root, FactsMemory* memory) {
  SystemFacts facts;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0) facts.computerName = name;
  int adapters = 0;
  bool classPresent = false;
  const std::string radios = root + "/sys/class/bluetooth";
  if (DIR* dir = ::opendir(radios.c_str())) {
    classPresent = true;
    ::closedir(dir);
  }
  ForEachEntry(radios, "hci", [&](std::string_view entry) {
    if (entry.find(':') == std::string_view::npos) ++adapters;  // hci0, not hci0:1 links
  });
  facts.bluetoothAdapters = classPresent ? adapters : 0;
  facts.firewall = ReadFirewall(root, memory);
  return facts;
}

const PlatformAdvice& Advice() {
  static const PlatformAdvice advice{
      "<code>sudo ss -tulpn 'sport = 41503'</code> names the program; close it",
      "load uinput and give your user access to it: <code>sudo modprobe uinput</code>, then "
      "install the udev rule (see Help)",
      "<code>sudo systemctl start bluetooth</code>",
      "plug in a Bluetooth adapter, or switch the radio on: <code>rfkill unblock "
      "bluetooth</code>",
  };
  return advice;
}

std::string LocalClockTime(int64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm local{};
  if (!::localtime_r(&seconds, &local)) return "?";
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace wendrix
