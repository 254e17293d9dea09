// UTF-8 text as the wide strings that Windows' W functions take.
#pragma once

#include <string>

namespace wendrix {

// Empty for null, empty or invalid text.
std::wstring Wide(const char* utf8);

}  // namespace wendrix
