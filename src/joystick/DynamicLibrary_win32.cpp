#include <windows.h>

#include "joystick/DynamicLibrary.h"

namespace wendrix {

const char* const kDriverLibraryName = "vJoyInterface.dll";

namespace {
// The running executable's full path, or empty (also when it does not fit).
std::string ExecutablePath() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}
}  // namespace

std::string ExecutableDirectory() {
  const std::string exe = ExecutablePath();
  const auto separator = exe.find_last_of("\\/");
  return separator == std::string::npos ? std::string{} : exe.substr(0, separator);
}

// "C:\Tools\wendrix.exe/../vJoyInterface.dll": the system's path
// normalisation takes the file name away with the "..".
std::string DriverLibraryPath() {
  const std::string exe = ExecutablePath();
  return exe.empty() ? std::string{} : exe + "/../" + kDriverLibraryName;
}

void* OpenLibrary(const std::string& path) {
  // A full path only ("C:\..." or "\\server\..."): never the search path.
  const bool full = (path.size() > 2 && path[1] == ':') || path.rfind("\\\\", 0) == 0;
  if (!full) return nullptr;
  HMODULE library = ::LoadLibraryA(path.c_str());
  if (!library) return nullptr;
  // Pinned: FreeLibrary no longer unmaps it, so a thread still inside it
  // never lands in freed code.
  HMODULE pinned;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(library), &pinned);
  return library;
}

void* FindSymbol(void* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace wendrix
