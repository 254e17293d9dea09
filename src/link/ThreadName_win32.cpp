#include <windows.h>

#include <string>

#include "link/ThreadName.h"

namespace wendrix {

void NameThisThread(const char* name) {
  // Windows 10 1607 and later; looked up, so that older systems still run.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (!setDescription) return;
  const std::wstring wide(name, name + std::char_traits<char>::length(name));
  setDescription(::GetCurrentThread(), wide.c_str());
}

}  // namespace wendrix
