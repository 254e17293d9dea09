#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "joystick/DynamicLibrary.h"

namespace wendrix {

const char* const kDriverLibraryName = "libvJoyInterface.so";

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string exe(path, static_cast<size_t>(n));
  auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string{} : exe.substr(0, slash);
}

std::string DriverLibraryPath() {
  const std::string dir = ExecutableDirectory();
  return dir.empty() ? std::string{} : dir + "/" + kDriverLibraryName;
}

void* OpenLibrary(const std::string& path) {
  if (path.empty() || path.front() != '/') return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void* FindSymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace wendrix
