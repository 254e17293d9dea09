#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/DriverHint.h"
#include "app/Modules.h"
#include "app/Startup.h"

namespace fs = std::filesystem;

namespace wendrix {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string output;
  std::string driverLog;
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wendrix-startup-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lib");
    fs::copy_file(PROBE_PATH, dir_ / "lib" / "wendrix");
    log_ = dir_ / "driver.log";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void PutFakeBeside() { fs::copy_file(FAKE_LIBRARY_PATH, dir_ / "lib" / "libvJoyInterface.so"); }

  Outcome Run(const fs::path& program, const std::string& env = "") {
    std::string command = "env FAKE_VJOY_LOG='" + log_.string() + "' " + env + " '" + program.string() +
                          "' > '" + (dir_ / "out").string() + "'";
    Outcome o;
    int status = std::system(command.c_str());
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.output = Slurp(dir_ / "out");
    o.driverLog = Slurp(log_);
    return o;
  }

  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
  fs::path log_;
};

const std::string kMessage =
    "MESSAGE\n\"vJoy device driver\" component is missing.\r\nPlease reinstall \"Wendrix\" "
    "(website: https://wendrix.example) and allow to install \"vJoy device driver\" in process.";

// The two fixed lines, then what is missing on this machine, if anything.
struct Message {
  bool shown = false;
  std::string extra;
};
Message Parse(const std::string& output) {
  if (output.rfind(kMessage, 0) != 0) return {};
  return {true, output.substr(kMessage.size())};
}

// With the library beside the program, the only thing the driver can lack
// here is the uinput device; the test machine may or may not have it.
std::string ExpectedUinputLine() {
  if (access("/dev/uinput", F_OK) != 0)
    return "\r\nOn this PC the uinput kernel module is not loaded; "
           "see \"Enabling uinput\" in the README.";
  if (access("/dev/uinput", W_OK) != 0) return "not writable";
  return "";
}

TEST_F(Startup, WithoutTheLibraryShowsTheMessageOnly) {
  Outcome o = Run(dir_ / "lib" / "wendrix");
  EXPECT_EQ(o.exitCode, 0);
  Message m = Parse(o.output);
  ASSERT_TRUE(m.shown) << o.output;
  EXPECT_EQ(m.extra, "\r\nOn this PC the driver library " + (dir_ / "lib" / "libvJoyInterface.so").string() +
                         " is missing; see \"Installing\" in the README.");
  EXPECT_EQ(o.driverLog, "");
}

TEST_F(Startup, DisabledDriverShowsTheMessage) {
  PutFakeBeside();
  Outcome o = Run(dir_ / "lib" / "wendrix", "FAKE_VJOY_ENABLED=0");
  EXPECT_EQ(o.exitCode, 0);
  Message m = Parse(o.output);
  ASSERT_TRUE(m.shown) << o.output;
  const std::string expected = ExpectedUinputLine();
  if (expected == "not writable")
    EXPECT_NE(m.extra.find("/dev/uinput is not writable for user"), std::string::npos) << m.extra;
  else
    EXPECT_EQ(m.extra, expected);
  EXPECT_EQ(o.driverLog, "vJoyEnabled\n");
}

TEST_F(Startup, ResultIsTrueByItsLowByteOnly) {
  PutFakeBeside();
  EXPECT_TRUE(Parse(Run(dir_ / "lib" / "wendrix", "FAKE_VJOY_ENABLED=0x100").output).shown);
  EXPECT_EQ(Run(dir_ / "lib" / "wendrix", "FAKE_VJOY_ENABLED=0x101").output, "WINDOW");
}

TEST_F(Startup, EnabledDriverOpensTheWindow) {
  PutFakeBeside();
  Outcome o = Run(dir_ / "lib" / "wendrix");
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.output, "WINDOW");
  EXPECT_EQ(o.driverLog, "vJoyEnabled\n");
}

TEST_F(Startup, IgnoresALibraryOnTheSearchPath) {
  fs::create_directories(dir_ / "elsewhere");
  fs::copy_file(FAKE_LIBRARY_PATH, dir_ / "elsewhere" / "libvJoyInterface.so");
  Outcome o = Run(dir_ / "lib" / "wendrix", "LD_LIBRARY_PATH='" + (dir_ / "elsewhere").string() + "'");
  EXPECT_NE(Parse(o.output).extra.find("driver library"), std::string::npos) << o.output;
  EXPECT_EQ(o.driverLog, "");
}

TEST_F(Startup, FindsTheLibraryThroughASymlinkedProgram) {
  PutFakeBeside();
  fs::create_directories(dir_ / "bin");
  fs::create_symlink(dir_ / "lib" / "wendrix", dir_ / "bin" / "wendrix");
  EXPECT_EQ(Run(dir_ / "bin" / "wendrix").output, "WINDOW");
}

TEST_F(Startup, ThreadsStillPushingAfterFinalisationNeverReachFreedCode) {
  PutFakeBeside();
  Outcome o = Run(dir_ / "lib" / "wendrix", "PROBE_PUSHERS=3 FAKE_VJOY_LOG=");
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.output, "WINDOW");
}

TEST(DriverTrouble, NamesTheFirstMissingPieceAndItsReadmeSection) {
  DriverFacts f;
  f.libraryPath = "/opt/w/libvJoyInterface.so";
  f.user = "ann";
  EXPECT_EQ(DescribeDriverTrouble(f), "");
  f.deviceWritable = false;
  EXPECT_EQ(DescribeDriverTrouble(f),
            "On this PC /dev/uinput is not writable for user ann; see \"Enabling uinput\" in the README.");
  f.deviceExists = false;
  EXPECT_NE(DescribeDriverTrouble(f).find("uinput kernel module is not loaded"), std::string::npos);
  f.libraryPresent = false;
  EXPECT_EQ(DescribeDriverTrouble(f),
            "On this PC the driver library /opt/w/libvJoyInterface.so is missing; see \"Installing\" in the "
            "README.");
}

TEST(Modules, InitialiseInTheirFixedOrder) {
  std::string order;
  for (const Module& m : Modules()) order += std::string(m.name) + " ";
  EXPECT_EQ(order,
            "VJoyInterface TcpServer Strings winsock2 UdpClient Connection2 MessageThread UdpServer "
            "BluetoothServer Main MainForm ");
}

}  // namespace
}  // namespace wendrix
