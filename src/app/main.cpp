// Process entry: the Qt side of start-up.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "app/Services.h"
#include "app/Startup.h"
#include "ui/GraphicsSetup.h"
#include "ui/MainForm.h"

namespace {

class QtShell final : public wendrix::Shell {
 public:
  QtShell(int& argc, char** argv) : argc_(argc), argv_(argv) {}

  void ShowMissingDriverMessage(const std::string& text) override {
    EnsureApplication();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Wendrix"), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
  }

  void RunMainWindow() override {
    EnsureApplication();
    wendrix::MainFormSetup setup;
    setup.startServices = &wendrix::StartServices;
    auto window = std::make_unique<wendrix::TMainForm>(std::move(setup));
    window->show();
    QApplication::exec();
  }

 private:
  void EnsureApplication() {
    if (app_) return;
    wendrix::PrepareGraphics();
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }

  int& argc_;
  char** argv_;
  std::unique_ptr<QApplication> app_;
};

}  // namespace

int main(int argc, char** argv) {
  // The shell, and with it the application object, is never destroyed: a
  // decoder thread that took the repaint hook just before the window went
  // away may still post to the application's event queue. Service threads
  // are still running, so the process ends at once with all they use intact.
  auto* shell = new QtShell(argc, argv);
  const int code = wendrix::RunProcess(*shell);
  std::fflush(nullptr);
  std::_Exit(code);
}
