// The module's wide string and the output stream its texts are built in.
#pragma once

#include <locale>
#include <sstream>
#include <string>
#include <string_view>

namespace MVX {

// A wide string with the conversions the module needs at its edges: 8-bit text
// from the host and the device comes in the ANSI code page; the rings and the
// debug trace carry UTF-8.
class MVXString : public std::wstring {
 public:
  using std::wstring::wstring;
  MVXString() = default;
  MVXString(const std::wstring& text) : std::wstring(text) {}   // NOLINT: implicit by design
  MVXString(std::wstring&& text) : std::wstring(std::move(text)) {}  // NOLINT

  // 8-bit text in the ANSI code page.
  static MVXString FromAnsi(std::string_view text);

  // UTF-8, up to the first NUL character.
  std::string ToUtf8() const;
  // The ANSI code page; `ok` is false when the conversion failed.
  std::string ToAnsi(bool& ok) const;
  // The code page of the user's default locale.
  std::string ToDefaultCodePage(bool& ok) const;
};

// A wide output string stream whose numbers are plain decimal, without digit
// grouping, whatever locale the process runs under.
class OStringStream : public std::wostringstream {
 public:
  OStringStream() { imbue(std::locale::classic()); }
  MVXString Str() const { return MVXString(str()); }
};

}  // namespace MVX
