#include "joystick/VJoyInterface.h"

#include "joystick/DynamicLibrary.h"

namespace wendrix {

void* vJoyLibrary = nullptr;
VJoyEntryPoints VJoyEntries;

void InitializeVJoyInterface() { vJoyLibrary = nullptr; }

template <typename Fn>
static void Resolve(Fn& entry, const char* name) {
  entry = reinterpret_cast<Fn>(FindSymbol(vJoyLibrary, name));
}

bool LoadVJoyInterface() {
  if (vJoyLibrary) return true;
  const std::string dir = ExecutableDirectory();
  if (dir.empty()) return false;
  vJoyLibrary = OpenLibrary(dir + "/" + kDriverLibraryName);
  if (!vJoyLibrary) return false;
  // Resolved in this order and not tested, as the rest of the program
  // assumes all five can be called once loading succeeded.
  Resolve(VJoyEntries.vJoyEnabled, "vJoyEnabled");
  Resolve(VJoyEntries.GetVJDStatus, "GetVJDStatus");
  Resolve(VJoyEntries.AcquireVJD, "AcquireVJD");
  Resolve(VJoyEntries.UpdateVJD, "UpdateVJD");
  Resolve(VJoyEntries.RelinquishVJD, "RelinquishVJD");
  return true;
}

bool UnloadVJoyInterface() {
  if (vJoyLibrary) {
    CloseLibrary(vJoyLibrary);
    vJoyLibrary = nullptr;
  }
  return true;
}

}  // namespace wendrix
