#include "app/Startup.h"

#include "BuildConfig.h"
#include "app/DriverHint.h"
#include "app/Modules.h"
#include "joystick/Joystick.h"
#include "joystick/VJoyInterface.h"

namespace wendrix {

std::string MissingDriverMessage() {
  std::string text;
  text += "\"vJoy device driver\" component is missing.";
  text += "\r\n";
  text += "Please reinstall \"Wendrix\" (website: ";
  text += kWebSite;
  text += ") and allow to install \"vJoy device driver\" in process.";
  return text;
}

int RunProcess(Shell& shell) {
  InitializeModules();
  if (LoadVJoyInterface() && DriverEnabled())
    shell.RunMainWindow();
  else
    shell.ShowMissingDriverMessage(MissingDriverMessage() + DriverTroubleLine());
  FinalizeModules();
  return 0;
}

}  // namespace wendrix
