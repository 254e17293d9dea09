// Process entry on Windows: the Win32 side of start-up.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/Services.h"
#include "app/Startup.h"
#include "ui/MainForm_win32.h"

namespace {

class Win32Shell final : public wendrix::Shell {
 public:
  void ShowMissingDriverMessage(const std::string& text) override {
    ::MessageBoxA(nullptr, text.c_str(), "Wendrix", MB_OK);
  }

  void RunMainWindow() override {
    wendrix::MainFormSetup setup;
    setup.startServices = &wendrix::StartServices;
    wendrix::RunMainForm(std::move(setup));
  }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Win32Shell shell;
  const int code = wendrix::RunProcess(shell);
  // Service threads are still running: the process ends at once, without
  // running destructors of objects they may still use. The libraries they
  // call into stay mapped (they are pinned when loaded).
  std::fflush(nullptr);
  std::_Exit(code);
}
