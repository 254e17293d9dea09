// Windows Firewall as the set-up check reads it from the registry: its
// rules for 41503 and its profiles give one verdict, and the waiting page
// says what that verdict means for a phone. The test owns the firewall's
// key in the test prefix and removes it again.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "status/StatusPages.h"
#include "status/SystemFacts.h"

namespace wendrix {
namespace {

constexpr char kPolicy[] = "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";

class WindowsFirewall : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPolicy); }
  void TearDown() override { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPolicy); }

  static void Rule(const char* name, const std::string& text) {
    const std::string key = std::string(kPolicy) + "\\FirewallRules";
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                                static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }
  static void Profile(const char* profile, DWORD on) {
    const std::string key = std::string(kPolicy) + "\\" + profile;
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "EnableFirewall", REG_DWORD, &on, sizeof on),
              ERROR_SUCCESS);
  }
  // The firewall row and its problem, if any, as the waiting page shows them.
  static std::string Page(const FirewallFacts& firewall) {
    StatusSnapshot s;
    s.system.firewall = firewall;
    return RenderWaitingLive(s);
  }
};

// As the installer's netsh commands leave them.
std::string AllowRule(const char* protocol, const char* active = "TRUE") {
  return std::string("v2.30|Action=Allow|Active=") + active + "|Dir=In|Protocol=" + protocol +
         "|LPort=41503|App=C:\\Program Files\\Wendrix\\wendrix.exe|Name=Wendrix|";
}

TEST_F(WindowsFirewall, WithoutItsKeyNothingIsKnown) {
  const FirewallFacts f = ReadSystemFacts().firewall;
  EXPECT_EQ(f.name, "Windows Firewall");
  EXPECT_EQ(f.active, Answer::kUnknown);
  EXPECT_EQ(f.allowsLinkPort, Answer::kUnknown);
  EXPECT_NE(Page(f).find("Wendrix cannot tell whether Windows Firewall lets 41503 in."), std::string::npos);
}

TEST_F(WindowsFirewall, NoRuleForBothProtocolsReadsAsAPossibleBlock) {
  Rule("tcp", AllowRule("6"));
  Rule("udp", AllowRule("17", "FALSE"));  // switched off
  Rule("other", "v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=41504|Name=Other|");
  FirewallFacts f = ReadSystemFacts().firewall;
  EXPECT_EQ(f.active, Answer::kUnknown) << "no profile says whether it is on";
  EXPECT_EQ(f.allowsLinkPort, Answer::kNo);
  std::string page = Page(f);
  EXPECT_NE(page.find("lets 41503 in: no"), std::string::npos) << page;
  EXPECT_NE(page.find("Windows Firewall may block port 41503"), std::string::npos) << page;
  EXPECT_NE(page.find("run the Wendrix installer again"), std::string::npos);

  // On in one profile: a block.
  Profile("DomainProfile", 0);
  Profile("PublicProfile", 1);
  f = ReadSystemFacts().firewall;
  EXPECT_EQ(f.active, Answer::kYes);
  page = Page(f);
  EXPECT_NE(page.find("Windows Firewall blocks port 41503."), std::string::npos) << page;
}

TEST_F(WindowsFirewall, TheInstallersRulesLetThePortIn) {
  Rule("tcp", AllowRule("6"));
  Rule("udp", AllowRule("17"));
  Profile("StandardProfile", 1);
  const FirewallFacts f = ReadSystemFacts().firewall;
  EXPECT_EQ(f.active, Answer::kYes);
  EXPECT_EQ(f.allowsLinkPort, Answer::kYes);
  const std::string page = Page(f);
  EXPECT_NE(page.find("Windows Firewall: on; lets 41503 in: yes"), std::string::npos) << page;
  EXPECT_EQ(page.find("port 41503."), std::string::npos) << page;
}

TEST_F(WindowsFirewall, OffInEveryProfileBlocksNothing) {
  for (const char* profile : {"DomainProfile", "StandardProfile", "PublicProfile"}) Profile(profile, 0);
  Rule("unrelated", "v2.30|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=80|Name=Web|");
  const FirewallFacts f = ReadSystemFacts().firewall;
  EXPECT_EQ(f.active, Answer::kNo);
  const std::string page = Page(f);
  EXPECT_NE(page.find("Windows Firewall: off"), std::string::npos) << page;
  EXPECT_EQ(page.find("block"), std::string::npos) << page;
}

}  // namespace
}  // namespace wendrix
