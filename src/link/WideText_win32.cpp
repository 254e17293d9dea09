#include <windows.h>

#include "WideText.h"

namespace wendrix {

std::wstring Wide(const char* utf8) {
  if (!utf8 || !*utf8) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring text(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

}  // namespace wendrix
