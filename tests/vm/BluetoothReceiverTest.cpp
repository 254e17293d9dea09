// Bluetooth to the wheel on a real Bluetooth stack: a second controller of
// the machine plays the phone. It finds the service by its class through
// SDP, as the phone app does, connects over RFCOMM to the channel the
// record names and drives the wheel. Needs two controllers, the system bus
// and bluetoothd; tests/vm/bluetooth-up brings them up in the guest and
// says in WENDRIX_VM_BLUETOOTH whether they came up. A skip still counts as
// passed in the guest, so tests/vm/run-vm-tests looks for this test by name
// and fails unless it passed (or Bluetooth is declared not expected).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "BluetoothPhone.h"
#include "BuildConfig.h"
#include "LinkTestSupport.h"
#include "Receiver.h"
#include "joystick/ControlState.h"
#include "link/BluetoothServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {
namespace {

using vjoy::WheelState;

class BluetoothToWheel : public ReceiverTest {
 protected:
  void SetUp() override {
    ReceiverTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const char* statusFile = std::getenv("WENDRIX_VM_BLUETOOTH");
    if (!statusFile || !*statusFile)
      GTEST_SKIP() << "no virtual Bluetooth controllers here; the VM stage (tests/vm) runs this test";
    std::ifstream in(statusFile);
    std::string status;
    std::getline(in, status);
    if (status != "ready") GTEST_SKIP() << "Bluetooth is not available in the guest: " << status;
  }
};

TEST_F(BluetoothToWheel, PhoneFindsTheServiceByItsClassAndDrivesTheWheelOverRfcomm) {
  // hci0 plays the PC, hci1 the phone.
  std::string error;
  std::optional<AdapterInfo> pc, phone;
  ASSERT_TRUE(Eventually([&] {
    pc = ReadAdapter("hci0", error);
    phone = ReadAdapter("hci1", error);
    return pc && phone && pc->powered && phone->powered;
  })) << "two powered controllers: "
      << error;
  // As while pairing: the PC accepts connections.
  ASSERT_TRUE(MakeDiscoverable("hci0", error)) << error;

  // The listener registers its record within its first passes.
  const Uuid128 serviceClass = UuidOf(BluetoothServiceClass);
  std::optional<std::vector<ServiceRecord>> found;
  ASSERT_TRUE(Eventually([&] {
    found = SearchServices(phone->address, pc->address, serviceClass, error);
    if (found && !found->empty()) return true;
    std::this_thread::sleep_for(100ms);
    return false;
  })) << "no record of the service class: "
      << (found ? "none found" : error);
  ASSERT_EQ(found->size(), 1u) << "one record of the class";
  const ServiceRecord& record = found->front();
  EXPECT_EQ(record.name, "Wendrix bluetooth server");
  EXPECT_EQ(record.description, std::string("More info on ") + kWebSite);
  EXPECT_NE(std::ranges::find(record.classes, serviceClass), record.classes.end());
  ASSERT_GE(record.rfcommChannel, 1) << "the record names an RFCOMM channel";
  ASSERT_LE(record.rfcommChannel, 30);

  // The first connection pairs the two controllers ("just works"). On a
  // link that has just been encrypted the PC's kernel refuses L2CAP
  // connections ("security block") until it has read the new key's size;
  // the emulated phone, in the same process as the emulated PC, can get
  // there first. A refused connection is therefore tried again a few times.
  gState.bluetoothDataSeen = false;
  int fd = -1;
  int refused = 0;
  for (; refused < 5; ++refused) {
    fd = ConnectRfcomm(phone->address, pc->address, static_cast<uint8_t>(record.rfcommChannel));
    if (fd >= 0 || errno != ECONNREFUSED) break;
    std::this_thread::sleep_for(200ms);
  }
  ASSERT_GE(fd, 0) << "RFCOMM channel " << record.rfcommChannel << ": " << std::strerror(errno);
  if (refused > 0) std::printf("note: connected after %d refused attempts\n", refused);
  EXPECT_EQ(ReadBytes(fd, 2), (std::vector<uint8_t>{0x00, 0x02})) << "the greeting";

  const WheelState before = Shown();
  ASSERT_TRUE(SendAll(fd, BuildFrame(BuildFramedMessage({-4000, 3000, 1, 0, 1}))));
  ExpectWheelMoves(before, {12384, 19384, 0b10});
  EXPECT_TRUE(gState.bluetoothDataSeen.load());

  ASSERT_TRUE(SendAll(fd, BuildFrame(BuildFramedMessage({0, 0, 2, 0, 0}))));
  ExpectWheelMoves({12384, 19384, 0b10}, {16384, 16384, 0});
  close(fd);
}

}  // namespace
}  // namespace wendrix::test
