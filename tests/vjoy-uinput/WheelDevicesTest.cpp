#include "WheelDevices.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ReportTranslation.h"

namespace wendrix::vjoy {
namespace {

namespace fs = std::filesystem;

// A stand-in for /sys/class/input with hand-made device folders.
class WheelScan : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("wendrix-sysfs-" + std::to_string(getpid()));

  void SetUp() override { fs::create_directories(root); }
  void TearDown() override { fs::remove_all(root); }

  void Device(const std::string& entry, const std::string& name, const char* bus, const char* vendor,
              const char* product) {
    const fs::path dir = root / entry;
    fs::create_directories(dir / "id");
    std::ofstream(dir / "name") << name << '\n';
    std::ofstream(dir / "id/bustype") << bus << '\n';
    std::ofstream(dir / "id/vendor") << vendor << '\n';
    std::ofstream(dir / "id/product") << product << '\n';
  }
};

TEST_F(WheelScan, FindsTheWheelByNameBusAndIds) {
  Device("input3", "AT Translated Set 2 keyboard", "0011", "0001", "0001");
  EXPECT_FALSE(WheelRegistered(root.string()));
  Device("input9", kWheelName, "0006", "1209", "5752");
  EXPECT_TRUE(WheelRegistered(root.string()));
}

TEST_F(WheelScan, IgnoresLookalikesAndOtherEntries) {
  Device("input1", kWheelName, "0003", "1209", "5752");  // USB, not virtual
  Device("input2", kWheelName, "0006", "1209", "5753");
  Device("input4", "Wendrix Virtual Wheel 2", "0006", "1209", "5752");
  Device("input5", kWheelName, "0006", "", "5752");
  Device("event9", kWheelName, "0006", "1209", "5752");  // not an input device folder
  fs::create_directories(root / "input6");               // no attributes at all
  EXPECT_FALSE(WheelRegistered(root.string()));
}

TEST_F(WheelScan, AMissingClassFolderMeansNoWheel) {
  EXPECT_FALSE(WheelRegistered((root / "absent").string()));
}

}  // namespace
}  // namespace wendrix::vjoy
