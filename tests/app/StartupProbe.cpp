// Runs the real start-up with a shell that prints instead of showing.
// With PROBE_PUSHERS=n the "window" leaves n threads pushing reports
// behind it, and the process goes on for a while after finalisation, as
// a window closed while a phone still sends would.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/Modules.h"
#include "app/Startup.h"
#include "joystick/Joystick.h"

namespace {
class PrintingShell final : public wendrix::Shell {
 public:
  void ShowMissingDriverMessage(const std::string& text) override {
    std::printf("MESSAGE\n%s", text.c_str());
  }
  void RunMainWindow() override {
    std::printf("WINDOW");
    const char* pushers = std::getenv("PROBE_PUSHERS");
    for (int i = pushers ? std::atoi(pushers) : 0; i > 0; --i) {
      std::thread([] {
        for (;;) wendrix::PushJoystickReport();
      }).detach();
    }
    if (pushers) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
};
}  // namespace

int main() {
  PrintingShell shell;
  int code = wendrix::RunProcess(shell);
  if (std::getenv("PROBE_PUSHERS")) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::fflush(nullptr);
  std::_Exit(code);
}
