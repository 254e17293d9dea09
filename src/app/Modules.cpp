#include "app/Modules.h"

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/VJoyInterface.h"
#include "link/TcpServer.h"
#include "link/winsock2.h"

namespace wendrix {

namespace {
void UnloadVJoy() { UnloadVJoyInterface(); }
void LoadSockets2() { LoadWinsock2(); }
void UnloadSockets2() { UnloadWinsock2(); }

constexpr Module kModules[] = {
    {"VJoyInterface", &InitializeVJoyInterface, &UnloadVJoy},
    {"TcpServer", &InitializeTcpServerModule, nullptr},
    {"Strings", nullptr, nullptr},
    {"winsock2", &LoadSockets2, &UnloadSockets2},
    {"UdpClient", nullptr, nullptr},
    {"Connection2", nullptr, nullptr},
    {"MessageThread", &InitializeLegacyDecoder, nullptr},
    {"UdpServer", nullptr, nullptr},
    {"BluetoothServer", nullptr, nullptr},
    {"Main", &InitializeMainState, nullptr},
    {"MainForm", nullptr, nullptr},
};
}  // namespace

std::span<const Module> Modules() { return kModules; }

void InitializeModules() {
  for (const Module& m : kModules)
    if (m.initialize) m.initialize();
}

void FinalizeModules() {
  for (auto it = std::rbegin(kModules); it != std::rend(kModules); ++it)
    if (it->finalize) it->finalize();
}

}  // namespace wendrix
