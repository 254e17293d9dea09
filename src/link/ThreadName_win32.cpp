#include <windows.h>

#include "WideText.h"
#include "link/ThreadName.h"

namespace wendrix {

void NameThisThread(const char* name) {
  // Windows 10 1607 and later; looked up, so that older systems still run.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (!setDescription) return;
  setDescription(::GetCurrentThread(), Wide(name).c_str());
}

}  // namespace wendrix
