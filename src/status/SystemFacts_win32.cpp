#include <windows.h>

#include <ctime>
#include <string_view>

#include "status/SystemFacts.h"

namespace wendrix {

namespace {

// Windows Firewall keeps its settings under this key, which every user may
// read: its rules as strings such as
// "v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=41503|Name=...|"
// in FirewallRules, and whether it is on in each of its profiles.
constexpr char kPolicyKey[] = "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";
constexpr const char* kProfiles[] = {"DomainProfile", "StandardProfile", "PublicProfile"};

bool AllowsInbound(std::string_view rule, std::string_view protocol) {
  return rule.find("|Action=Allow|") != std::string_view::npos &&
         rule.find("|Active=TRUE|") != std::string_view::npos &&
         rule.find("|Dir=In|") != std::string_view::npos && rule.find(protocol) != std::string_view::npos &&
         rule.find("|LPort=41503|") != std::string_view::npos;
}

// On in any profile: which one applies depends on the network. Off only
// when every profile says so.
Answer FirewallOn(HKEY policy) {
  bool allOff = true;
  for (const char* profile : kProfiles) {
    DWORD on = 0;
    DWORD size = sizeof on;
    if (::RegGetValueA(policy, profile, "EnableFirewall", RRF_RT_REG_DWORD, nullptr, &on, &size) !=
        ERROR_SUCCESS)
      allOff = false;
    else if (on != 0)
      return Answer::kYes;
  }
  return allOff ? Answer::kNo : Answer::kUnknown;
}

FirewallFacts ReadFirewall() {
  FirewallFacts facts;
  facts.name = "Windows Firewall";
  facts.fix = "run the Wendrix installer again, or allow Wendrix in Windows Security, Firewall";
  HKEY policy = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_READ, &policy) != ERROR_SUCCESS) {
    facts.detail = "its rules cannot be read";
    return facts;
  }
  facts.active = FirewallOn(policy);
  HKEY key = nullptr;
  const LONG opened = ::RegOpenKeyExA(policy, "FirewallRules", 0, KEY_READ, &key);
  ::RegCloseKey(policy);
  if (opened != ERROR_SUCCESS) {
    facts.detail = "its rules cannot be read";
    return facts;
  }
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
  facts.detail =
      tcp && udp ? "the installer's rules let TCP and UDP 41503 in" : "no rule lets TCP and UDP 41503 in";
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
      "install the vJoy device driver, enable device 1 in Configure vJoy, then run the Wendrix "
      "installer again",
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
