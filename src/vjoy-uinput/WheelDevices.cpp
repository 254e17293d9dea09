#include "WheelDevices.h"

#include <linux/input.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ReportTranslation.h"

namespace wendrix::vjoy {

namespace {

std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool HexEquals(const std::string& text, unsigned expected) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  return *end == '\0' && value == expected;
}

}  // namespace

bool WheelRegistered(const std::string& classDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path dir = it->path();
    if (dir.filename().string().rfind("input", 0) != 0) continue;
    if (FirstLine(dir / "name") == kWheelName && HexEquals(FirstLine(dir / "id/bustype"), BUS_VIRTUAL) &&
        HexEquals(FirstLine(dir / "id/vendor"), kWheelVendor) &&
        HexEquals(FirstLine(dir / "id/product"), kWheelProduct)) {
      return true;
    }
  }
  return false;
}

}  // namespace wendrix::vjoy
