// UTF-8 to and from wide text, the same on every platform.
//
// wchar_t is UTF-16 on Windows (characters beyond the Basic Multilingual Plane
// take a surrogate pair) and UTF-32 on Linux; both are handled here.
#pragma once

#include <string>
#include <string_view>

namespace MVX {

// Encodes wide text as UTF-8, stopping at the first NUL character. A lone
// surrogate or an invalid code point becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// Decodes UTF-8; malformed sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

}  // namespace MVX
