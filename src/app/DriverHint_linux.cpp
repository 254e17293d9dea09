#include <pwd.h>
#include <unistd.h>

#include "app/DriverHint.h"
#include "joystick/DynamicLibrary.h"

namespace wendrix {

namespace {
constexpr const char* kUinputPath = "/dev/uinput";
}

std::string DescribeDriverTrouble(const DriverFacts& facts) {
  if (!facts.libraryPresent)
    return "On this PC the driver library " + facts.libraryPath +
           " is missing; see \"Installing\" in the README.";
  if (!facts.deviceExists)
    return "On this PC the uinput kernel module is not loaded; see \"Enabling uinput\" in the README.";
  if (!facts.deviceWritable)
    return std::string("On this PC ") + kUinputPath + " is not writable for user " + facts.user +
           "; see \"Enabling uinput\" in the README.";
  return {};
}

std::string DriverTroubleLine() {
  DriverFacts facts;
  const std::string dir = ExecutableDirectory();
  facts.libraryPath = (dir.empty() ? std::string(".") : dir) + "/" + kDriverLibraryName;
  facts.libraryPresent = access(facts.libraryPath.c_str(), F_OK) == 0;
  facts.deviceExists = access(kUinputPath, F_OK) == 0;
  facts.deviceWritable = access(kUinputPath, W_OK) == 0;
  const passwd* pw = getpwuid(geteuid());
  facts.user = pw ? pw->pw_name : std::to_string(geteuid());
  const std::string text = DescribeDriverTrouble(facts);
  return text.empty() ? text : "\r\n" + text;
}

}  // namespace wendrix
