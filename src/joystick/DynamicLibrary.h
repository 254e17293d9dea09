// Loading a shared library by absolute path, one file per platform.
#pragma once

#include <string>

namespace wendrix {

// Directory of the running executable, symlinks resolved; empty on failure.
std::string ExecutableDirectory();

// Loads the library at exactly this path, never through a search path.
// The library stays mapped after CloseLibrary, so a thread still running
// inside it can never land in freed code.
void* OpenLibrary(const std::string& path);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

// File name of the driver library on this platform.
extern const char* const kDriverLibraryName;

// Full path of the driver library in the executable's own directory;
// empty when the executable's path is unknown.
std::string DriverLibraryPath();

}  // namespace wendrix
