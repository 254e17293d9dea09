#include <windows.h>

#include <ctime>
#include <string_view>

#include "status/SystemFacts.h"

namespace wendrix {

namespace {

// Windows Firewall keeps its rules as strings such as
// "v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=41503|Name=...|"
// under this key, which every user may read.
constexpr char kRulesKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules";

bool AllowsInbound(std::string_view rule, std::string_view protocol) {
  return rule.find("|Action=Allow|") != std::string_view::npos &&
         rule.find("|Active=TRUE|") != std::string_view::npos &&
         rule.find("|Dir=In|") != std::string_view::npos &&
         rule.find(protocol) != std::string_view::npos &&
         rule.find("|LPort=41503|") != std::string_view::npos;
}

FirewallFacts ReadFirewall() {
  FirewallFacts facts;
  facts.name = "Windows Firewall";
  facts.fix = "run the Wendrix installer again, or allow Wendrix in Windows Security, Firewall";
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    facts.detail = "its rules cannot be read";
    return facts;
  }
  facts.active = Answer::kUnknown;
  bool tcp = false;
  bool udp = false;
  char name[512];
  char data[4096];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name;
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    const LONG r = ::RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &dataLength);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string_view rule(data, dataLength);
    tcp = tcp || AllowsInbound(rule, "|Protocol=6|");
    udp = udp || AllowsInbound(rule, "|Protocol=17|");
  }
  ::RegCloseKey(key);
  facts.allowsLinkPort = tcp && udp ? Answer::kYes : Answer::kNo;
  facts.detail = tcp && udp ? "the installer's rules let TCP and UDP 41503 in"
                            : "no rule lets TCP and UDP 41503 in";
  return facts;
}

}  // namespace

SystemFacts ReadSystemFacts(const std::string&, FactsMemory*) {
  SystemFacts facts;
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  if (::GetComputerNameA(name, &length)) facts.computerName.assign(name, length);
  facts.firewall = ReadFirewall();
  return facts;
}

const PlatformAdvice& Advice() {
  static const PlatformAdvice advice{
      "<code>netstat -abno | findstr 41503</code> names the program; close it",
      "install the vJoy device driver again (the Wendrix installer offers it)",
      "start the Bluetooth Support Service (services.msc)",
      "plug in a Bluetooth adapter, or switch Bluetooth on in Settings",
  };
  return advice;
}

std::string LocalClockTime(int64_t milliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm local{};
  if (::localtime_s(&local, &seconds) != 0) return "?";
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace wendrix
