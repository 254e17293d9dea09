#include "joystick/VJoyInterface.h"

#include "joystick/DynamicLibrary.h"

namespace wendrix {

void* vJoyLibrary = nullptr;
VJoyEntryPoints VJoyEntries;

void InitializeVJoyInterface() { vJoyLibrary = nullptr; }

namespace unbound {
VJoyBool vJoyEnabled() { return 0; }
int32_t GetVJDStatus(uint32_t) { return VJD_STAT_MISS; }
VJoyBool AcquireVJD(uint32_t) { return 0; }
VJoyBool UpdateVJD(uint32_t, void*) { return 0; }
void RelinquishVJD(uint32_t) {}
}  // namespace unbound

// A missing entry point keeps its failing stand-in.
template <typename Fn>
static void Resolve(Fn& entry, const char* name) {
  if (void* symbol = FindSymbol(vJoyLibrary, name)) entry = reinterpret_cast<Fn>(symbol);
}

bool LoadVJoyInterface() {
  if (vJoyLibrary) return true;
  const std::string path = DriverLibraryPath();
  if (path.empty()) return false;
  vJoyLibrary = OpenLibrary(path);
  if (!vJoyLibrary) return false;
  // Resolved in this order and not tested, as the rest of the program
  // assumes all five can be called once loading succeeded.
  VJoyEntries = VJoyEntryPoints{};
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
