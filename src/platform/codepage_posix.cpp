#include <array>
#include <cstdint>

#include "platform/codepage.h"

namespace corvane::platform {
namespace {

// Windows-1252 0x80..0x9F; the five unassigned bytes keep their C1 code points,
// as Windows itself maps them.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wchar_t ByteToWide(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return static_cast<wchar_t>(kHighControls[byte - 0x80u]);
  return static_cast<wchar_t>(byte);
}

char WideToByte(wchar_t c) {
  const auto code = static_cast<uint32_t>(c);
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == code) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string WideTo1252(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) out.push_back(WideToByte(c));
  return out;
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (const char c : text) out.push_back(ByteToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string WideToAnsi(std::wstring_view text, bool& ok) {
  ok = true;
  return WideTo1252(text);
}

std::string WideToDefaultCodePage(std::wstring_view text, bool& ok) {
  ok = true;
  return WideTo1252(text);
}

}  // namespace corvane::platform
