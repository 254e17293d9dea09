// The phone's name from BlueZ, through a fake org.bluez on a bus of the
// test's own that stands in for the system bus.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "PrivateBus.h"
#include "status/BluetoothNames.h"

namespace wendrix {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kPhone = 0xA5A4A3A2A107;
constexpr const char* kPhonePath = "/org/bluez/hci1/dev_A5_A4_A3_A2_A1_07";

std::atomic<int> gAliasAsked{0};

int GetAlias(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  ++gAliasAsked;
  return sd_bus_message_append(reply, "s", "Ann's <phone>");
}
const sd_bus_vtable kDevice[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Alias", "s", GetAlias, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

// org.bluez with one paired phone behind adapter hci1, served on a thread.
class FakeBluezDevices {
 public:
  explicit FakeBluezDevices(const std::string& address) {
    bus_ = Connect(address);
    if (!bus_ ||
        sd_bus_add_object_vtable(bus_, nullptr, kPhonePath, "org.bluez.Device1", kDevice, nullptr) < 0 ||
        sd_bus_request_name(bus_, "org.bluez", 0) < 0)
      return;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) > 0) continue;
        sd_bus_wait(bus_, 50000);
      }
    });
  }
  ~FakeBluezDevices() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool serving() const { return thread_.joinable(); }

 private:
  sd_bus* bus_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class BluetoothNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ready()) << bus_.log();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
    // A tree of each test's own: the names are kept per tree.
    root_ = fs::temp_directory_path() / ("wendrix-names-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    // The adapters as sysfs lists them: hci0 and hci1, and a connection of hci1.
    for (const char* entry : {"hci0", "hci1", "hci1:11"})
      fs::create_directories(root_ / "sys/class/bluetooth" / entry);
  }
  void TearDown() override {
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    fs::remove_all(root_);
  }

  PrivateBus bus_;
  fs::path root_;
};

TEST_F(BluetoothNames, ComeFromTheDeviceBehindWhicheverAdapterKnowsIt) {
  FakeBluezDevices bluez(bus_.address());
  ASSERT_TRUE(bluez.serving());
  EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string()), "Ann's <phone>");
  // Another phone, unknown to BlueZ: no name, and no wait beyond the call.
  EXPECT_EQ(BluetoothDeviceName(kPhone + 1, root_.string()), "");
  EXPECT_EQ(BluetoothDeviceName(0, root_.string()), "");
}

TEST_F(BluetoothNames, AreEmptyWithoutBluezOrWithoutAdapters) {
  {
    SCOPED_TRACE("adapters, but no org.bluez on the bus");
    EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string()), "");
  }
  FakeBluezDevices bluez(bus_.address());
  ASSERT_TRUE(bluez.serving());
  const int asked = gAliasAsked;
  {
    SCOPED_TRACE("BlueZ knows the phone, but the system lists no adapter");
    const fs::path none = root_ / "no-adapters";
    fs::create_directories(none / "sys/class/bluetooth/hci1:11");
    EXPECT_EQ(BluetoothDeviceName(kPhone, none.string()), "");
    EXPECT_EQ(BluetoothDeviceName(kPhone, (root_ / "no-sysfs").string()), "");
  }
  EXPECT_EQ(gAliasAsked, asked) << "BlueZ is asked only through an adapter";
  EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string()), "Ann's <phone>") << "the same bus serves the name";
}

// A first look-up that found nothing (BlueZ not up yet, or too slow) is
// not the last word, but it is not repeated on every page either.
TEST_F(BluetoothNames, AnEmptyAnswerIsAskedAgainLaterAndANameIsKept) {
  EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string()), "");
  FakeBluezDevices bluez(bus_.address());
  ASSERT_TRUE(bluez.serving());
  EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string(), std::chrono::hours(1)), "") << "kept until the retry";
  EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string(), std::chrono::milliseconds(0)), "Ann's <phone>");
  const int asked = gAliasAsked;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(BluetoothDeviceName(kPhone, root_.string(), std::chrono::milliseconds(0)), "Ann's <phone>");
  EXPECT_EQ(gAliasAsked, asked) << "a name found is not asked for again";
}

}  // namespace
}  // namespace wendrix
