// Runs the real start-up with a shell that prints instead of showing.
#include <cstdio>
#include <cstdlib>

#include "app/Startup.h"

namespace {
class PrintingShell final : public wendrix::Shell {
 public:
  void ShowMissingDriverMessage(const std::string& text) override {
    std::printf("MESSAGE\n%s", text.c_str());
  }
  void RunMainWindow() override { std::printf("WINDOW"); }
};
}  // namespace

int main() {
  PrintingShell shell;
  int code = wendrix::RunProcess(shell);
  std::fflush(nullptr);
  std::_Exit(code);
}
