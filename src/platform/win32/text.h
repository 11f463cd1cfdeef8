// UTF-8 (the core's text) to and from UTF-16 (the Windows API's).
#pragma once

#include <string>
#include <string_view>

namespace quillomir::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace quillomir::win32
