// A plain line under the missing-driver message that says what is actually
// missing on this machine, where the platform can tell.
#pragma once

#include <string>

namespace wendrix {

// What the Linux driver library needs, as found on this machine.
struct DriverFacts {
  bool libraryPresent = true;  // the driver library beside the program
  bool deviceExists = true;    // /dev/uinput, i.e. the uinput module is there
  bool deviceWritable = true;  // this user may open it for writing
  std::string libraryPath;
  std::string user;
};

// The line for these facts (the first missing piece wins), or empty.
std::string DescribeDriverTrouble(const DriverFacts& facts);

// The line for this machine, starting with a line break; empty where the
// platform adds nothing to the message.
std::string DriverTroubleLine();

}  // namespace wendrix
