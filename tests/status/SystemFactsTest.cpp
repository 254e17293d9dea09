// The set-up check's facts read from a tree of the test's own, laid out
// like the system's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "status/SystemFacts.h"

namespace wendrix {
namespace {

namespace fs = std::filesystem;

class SystemFactsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("wendrix-facts-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& path, const std::string& text) {
    const fs::path file = root_ / path;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  SystemFacts Read() const { return ReadSystemFacts(root_.string()); }

  fs::path root_;
};

TEST_F(SystemFactsTest, NothingInstalledMeansNoFirewallAndNoRadio) {
  const SystemFacts facts = Read();
  EXPECT_FALSE(facts.computerName.empty());
  EXPECT_EQ(facts.bluetoothAdapters, 0);
  EXPECT_EQ(facts.firewall.name, "");
  EXPECT_EQ(facts.firewall.active, Answer::kNo);
  fs::create_directories(root_ / "sys/class/bluetooth/hci0");
  fs::create_directories(root_ / "sys/class/bluetooth/hci0:11");
  fs::create_directories(root_ / "sys/class/bluetooth/hci1");
  EXPECT_EQ(Read().bluetoothAdapters, 2);
}

TEST_F(SystemFactsTest, UfwIsReadFromItsConfigurationAndRules) {
  Write("etc/ufw/ufw.conf", "# comment\nENABLED=no\n");
  EXPECT_EQ(Read().firewall.active, Answer::kNo);

  Write("etc/ufw/ufw.conf", "ENABLED=yes\nLOGLEVEL=low\n");
  FirewallFacts f = Read().firewall;
  EXPECT_EQ(f.name, "ufw");
  EXPECT_EQ(f.active, Answer::kYes);
  EXPECT_EQ(f.allowsLinkPort, Answer::kUnknown) << "rules not readable";
  EXPECT_EQ(f.fix, "sudo ufw allow 41503");

  Write("etc/ufw/user.rules", "### tuple ### allow tcp 41503 0.0.0.0/0 any 0.0.0.0/0 in\n");
  EXPECT_EQ(Read().firewall.allowsLinkPort, Answer::kNo) << "UDP stays closed";
  Write("etc/ufw/user.rules",
        "### tuple ### allow tcp 41503 0.0.0.0/0 any 0.0.0.0/0 in\n"
        "### tuple ### allow udp 41503 0.0.0.0/0 any 0.0.0.0/0 in\n");
  EXPECT_EQ(Read().firewall.allowsLinkPort, Answer::kYes);
  Write("etc/ufw/user.rules", "### tuple ### allow any 41503 0.0.0.0/0 any 0.0.0.0/0 in\n");
  EXPECT_EQ(Read().firewall.allowsLinkPort, Answer::kYes);
  Write("etc/ufw/user.rules", "### tuple ### deny any 41503 0.0.0.0/0 any 0.0.0.0/0 in\n");
  EXPECT_EQ(Read().firewall.allowsLinkPort, Answer::kNo);
}

TEST_F(SystemFactsTest, FirewalldIsSeenRunningAndItsChangedZonesRead) {
  Write("etc/ufw/ufw.conf", "ENABLED=yes\n");
  Write("proc/1234/comm", "firewalld\n");
  Write("proc/99/comm", "bash\n");
  FirewallFacts f = Read().firewall;
  EXPECT_EQ(f.name, "firewalld") << "the one running counts";
  EXPECT_EQ(f.active, Answer::kYes);
  EXPECT_EQ(f.allowsLinkPort, Answer::kUnknown);
  EXPECT_NE(f.fix.find("--add-port=41503/udp"), std::string::npos);

  Write("etc/firewalld/zones/public.xml",
        "<zone><port protocol=\"tcp\" port=\"41503\"/><port protocol=\"udp\" port=\"41503\"/></zone>");
  EXPECT_EQ(Read().firewall.allowsLinkPort, Answer::kYes);

  fs::remove(root_ / "proc/1234/comm");
  EXPECT_EQ(Read().firewall.name, "ufw") << "firewalld no longer runs";
}

// Read again and again with a memory, as the page server does: a daemon
// that stops, or whose number goes to another program, is seen at once,
// and one restarted under another number is found again.
TEST_F(SystemFactsTest, AFirewallRememberedByItsNumberIsCheckedEachTime) {
  FactsMemory memory;
  memory.searchEvery = std::chrono::hours(1);
  auto read = [&] { return ReadSystemFacts(root_.string(), &memory).firewall; };
  Write("etc/ufw/ufw.conf", "ENABLED=yes\n");
  Write("proc/1234/comm", "firewalld\n");
  EXPECT_EQ(read().name, "firewalld");
  fs::remove(root_ / "proc/1234/comm");
  Write("proc/1300/comm", "firewalld\n");
  EXPECT_EQ(read().name, "firewalld") << "restarted as 1300";
  Write("proc/1300/comm", "bash\n");
  EXPECT_EQ(read().name, "ufw") << "number 1300 now runs another program";
}

}  // namespace
}  // namespace wendrix
