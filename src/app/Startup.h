// The life of the process, apart from the toolkit: module initialisation,
// the driver check, the main window or the missing-driver message, the end.
#pragma once

#include <string>

namespace wendrix {

// What start-up needs from the window toolkit.
class Shell {
 public:
  virtual ~Shell() = default;
  // A modal box with the text, one OK button and no icon.
  virtual void ShowMissingDriverMessage(const std::string& text) = 0;
  // Creates the main window (which starts the services) and runs the
  // message loop until the user closes it.
  virtual void RunMainWindow() = 0;
};

std::string MissingDriverMessage();

// Runs the whole start-up and shutdown; returns the exit code.
int RunProcess(Shell& shell);

}  // namespace wendrix
