// Conversions between 8-bit code pages and wide text.
//
// Windows uses the process's ANSI code page and the user's default code page
// (LOCALE_IDEFAULTCODEPAGE). Linux has neither, so both are Windows-1252
// there: the two builds then turn the same bytes into the same text.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform {

// 8-bit text in the ANSI code page to wide text.
std::wstring AnsiToWide(std::string_view text);

// Wide text to the ANSI code page. Characters the code page lacks become '?'.
// `ok` is false only when the conversion itself failed.
std::string WideToAnsi(std::wstring_view text, bool& ok);

// Wide text to the code page of the user's default locale, read once.
std::string WideToDefaultCodePage(std::wstring_view text, bool& ok);

}  // namespace corvane::platform
