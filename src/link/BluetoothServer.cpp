#include "link/BluetoothServer.h"

#include <chrono>
#include <string>
#include <thread>

#include "BuildConfig.h"
#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "link/SocketsExtra.h"
#include "link/winsock2.h"

namespace wendrix {

void SleepMilliseconds(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

void ShowState(BluetoothState state) { gStatus.bluetooth.store(state, kRelaxed); }

// The radio address of an accepted phone as one number, 0 when accept did
// not fill it in. The session shows it once the phone's stream delivers
// data, so another device that connects meanwhile is not named.
uint64_t PeerRadio(const RfcommAddress& peer, socklen_t length) {
  return length >= static_cast<socklen_t>(sizeof peer) ? RfcommRadio(peer) : 0;
}

char wsaData[512];  // filled by WSAStartup, read by nobody
const std::string kComment = std::string("More info on ") + kWebSite;
}  // namespace

void TBluetoothServer::Execute() {
  RfcommAddress address{};
  socklen_t addressLength = sizeof address;
  bool firstPass = true;

  if (Winsock2Entries.WSAStartup) Winsock2Entries.WSAStartup(0x0202, wsaData);

  while (!Terminated()) {
    if (firstPass)
      firstPass = false;
    else if (!WaitBeforePass())
      return;
    RunPass(address, addressLength);
  }
}

bool TBluetoothServer::WaitBeforePass() {
  do {
    Sleep_(1000);
    if (Terminated()) return false;
  } while (gState.wifiActive.load(kRelaxed));
  return true;
}

void TBluetoothServer::RunPass(RfcommAddress& address, socklen_t& addressLength) {
  const Winsock2EntryPoints& ws = Winsock2Entries;
  if (!ws.socket || !ws.bind || !ws.listen || !ws.getsockname || !ws.WSASetService || !ws.accept ||
      !ws.closesocket)
    return;

  const SocketHandle s = ws.socket(kRfcommFamily, SOCK_STREAM, kBtProtoRfcomm);
  if (s < 0) {
    ShowState(BluetoothState::kNoBluetooth);
    return;
  }

  // Every pass binds to any radio on a channel the system picks.
  address = RfcommBindAddress(BluetoothServiceClass);
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  addressLength = sizeof address;

  if (ws.bind(s, raw, sizeof address) == kSocketError || ws.listen(s, 4) == kSocketError ||
      ws.getsockname(s, raw, &addressLength) == kSocketError) {
    ShowState(BluetoothState::kNoAdapter);
    ws.closesocket(s);
    return;
  }

  CsAddrInfo csAddr{};
  csAddr.LocalAddr = {raw, static_cast<int>(sizeof address)};
  csAddr.RemoteAddr = {raw, static_cast<int>(sizeof address)};
  csAddr.iSocketType = SOCK_STREAM;
  csAddr.iProtocol = kBtProtoRfcomm;
  WSAQuerySet record{};
  record.dwSize = sizeof record;
  record.lpszServiceInstanceName = kBluetoothServiceName;
  record.lpServiceClassId = &BluetoothServiceClass;
  record.lpszComment = kComment.c_str();
  record.dwNameSpace = NS_BTH;
  record.dwNumberOfCsAddrs = 1;
  record.lpcsaBuffer = &csAddr;

  if (ws.WSASetService(&record, RNRSERVICE_REGISTER, 0) == kSocketError) {
    ShowState(IsRegistrarUnreachable(LastSocketError()) ? BluetoothState::kNoBluez
                                                        : BluetoothState::kRefused);
    ws.closesocket(s);
    return;
  }
  gStatus.bluetoothChannel.store(RfcommChannel(address), kRelaxed);
  ShowState(BluetoothState::kRegistered);

  while (!Terminated()) {
    RfcommAddress peer{};
    socklen_t peerLength = sizeof peer;
    const SocketHandle accepted = ws.accept(s, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (accepted < 0) break;
    AcceptCallback_(accepted, PeerRadio(peer, peerLength));
  }
  ShowState(BluetoothState::kAcceptFailed);
  // The record would name a channel nobody listens on any more.
  ws.WSASetService(&record, RNRSERVICE_DELETE, 0);
  ws.closesocket(s);
}

}  // namespace wendrix
