// The rest of the Windows platform layer: the driver library's path, the
// interface list, the sockets layer's stop and port guard, the clock.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "SystemSockets.h"
#include "decode/Clock.h"
#include "joystick/DynamicLibrary.h"
#include "joystick/VJoyInterface.h"
#include "link/InterfaceList.h"
#include "link/Sockets.h"
#include "link/winsock2.h"

#include <mmsystem.h>

namespace wendrix {
namespace {

class Win32Platform : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetProcessState(); }
};

TEST_F(Win32Platform, TheDriverLibraryIsTheOneBesideTheProgram) {
  char exe[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, exe, sizeof exe);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(DriverLibraryPath(), std::string(exe, n) + "/../vJoyInterface.dll");

  // The fake library was loaded from the program's own folder.
  std::string beside(exe, n);
  beside = beside.substr(0, beside.find_last_of("\\/") + 1) + "vJoyInterface.dll";
  ASSERT_NE(vJoyLibrary, nullptr);
  EXPECT_EQ(vJoyLibrary, ::GetModuleHandleA(beside.c_str()));
  EXPECT_NE(FindSymbol(vJoyLibrary, "UpdateVJD"), nullptr);
}

TEST_F(Win32Platform, OnlyFullPathsAreLoaded) {
  EXPECT_EQ(OpenLibrary("vJoyInterface.dll"), nullptr);
  EXPECT_EQ(OpenLibrary(""), nullptr);
  EXPECT_EQ(OpenLibrary("C:\\no such folder\\vJoyInterface.dll"), nullptr);
}

TEST_F(Win32Platform, TheInterfaceListComesThroughTheBoundWSAIoctl) {
  ASSERT_NE(Winsock2Entries.WSAIoctl, nullptr);
  const SocketHandle query = Winsock2Entries.socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(query, kInvalidSocket);
  alignas(InterfaceInfo) uint8_t list[kInterfaceListBufferSize];
  uint32_t bytes = 12345;
  ASSERT_EQ(Winsock2Entries.WSAIoctl(query, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &bytes), 0)
      << Winsock2Entries.WSAGetLastError();
  EXPECT_EQ(bytes % sizeof(InterfaceInfo), 0u);
  const auto* records = reinterpret_cast<const InterfaceInfo*>(list);
  for (size_t i = 0; i < bytes / sizeof(InterfaceInfo); ++i) {
    EXPECT_EQ(records[i].iiAddress.sin_family, AF_INET);
    EXPECT_EQ(records[i].iiNetmask.sin_family, AF_INET);
  }
  // Another code, or a closed socket, fails.
  EXPECT_EQ(Winsock2Entries.WSAIoctl(query, 0x12345678, nullptr, 0, list, sizeof list, &bytes), -1);
  Winsock2Entries.closesocket(query);
}

TEST_F(Win32Platform, AStopWakesABlockedAcceptAndAReceive) {
  const SocketHandle listening = OpenTcpSocket();
  ASSERT_EQ(BindToAnyAddress(listening, 0), 0);
  ASSERT_EQ(ListenOn(listening, 1), 0);
  const SocketHandle datagrams = OpenUdpSocket();
  ASSERT_EQ(BindToAnyAddress(datagrams, 0), 0);

  SocketHandle accepted = 0;
  long received = 0;
  std::thread acceptor([&] { accepted = AcceptConnection(listening); });
  std::thread receiver([&] {
    uint8_t buffer[8];
    received = ReceiveDatagram(datagrams, buffer, sizeof buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ShutdownSocket(listening);
  ShutdownSocket(datagrams);
  acceptor.join();
  receiver.join();
  EXPECT_EQ(accepted, kInvalidSocket);
  EXPECT_EQ(received, kSocketError);
  EXPECT_EQ(CloseSocket(listening), 0);
  EXPECT_EQ(CloseSocket(datagrams), 0);
}

TEST_F(Win32Platform, ALongDatagramIsAFailureOfItsOwn) {
  const SocketHandle s = OpenUdpSocket();
  ASSERT_EQ(BindToAnyAddress(s, 0), 0);
  const int client = test::OpenUdpClient();
  const std::vector<uint8_t> datagram(20, 1);
  ASSERT_TRUE(test::SendDatagramTo(client, LocalPort(s), datagram));
  uint8_t buffer[8];
  EXPECT_EQ(ReceiveDatagram(s, buffer, sizeof buffer), kSocketError);
  EXPECT_EQ(LastSocketError(), kMessageTooLong);
  test::CloseClient(client);
  CloseSocket(s);
}

TEST_F(Win32Platform, AListenersPortCannotBeTakenBesideIt) {
  const SocketHandle first = OpenTcpSocket();
  SetReuseAddress(first);
  ASSERT_EQ(BindToAnyAddress(first, 0), 0);
  ASSERT_EQ(ListenOn(first, 1), 0);
  const SocketHandle second = OpenTcpSocket();
  SetReuseAddress(second);
  EXPECT_EQ(BindToAnyAddress(second, LocalPort(first)), kSocketError);
  CloseSocket(second);
  CloseSocket(first);
}

TEST_F(Win32Platform, AcceptedSocketsTakeNoDelayAndKeepalive) {
  const SocketHandle listening = OpenTcpSocket();
  ASSERT_EQ(BindToAnyAddress(listening, 0), 0);
  ASSERT_EQ(ListenOn(listening, 1), 0);
  const int client = test::ConnectLoopback(LocalPort(listening));
  const SocketHandle accepted = AcceptConnection(listening);
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_EQ(SetNoDelay(accepted), 0);
  EXPECT_EQ(SetKeepAlive(accepted, 10, 5, 3), 0) << LastSocketError();
  int on = 0;
  int length = sizeof on;
  ASSERT_EQ(
      ::getsockopt(ToSystemSocket(accepted), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&on), &length),
      0);
  EXPECT_NE(on, 0);
  CloseSocket(accepted);
  test::CloseClient(client);
  CloseSocket(listening);
}

TEST_F(Win32Platform, TheDecoderClockIsTheMultimediaClock) {
  const uint32_t before = ::timeGetTime();
  const uint32_t ours = timeGetTime();
  const uint32_t after = ::timeGetTime();
  EXPECT_LE(ours - before, after - before);
}

}  // namespace
}  // namespace wendrix
