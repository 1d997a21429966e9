#include <windows.h>

#include "platform/codepage.h"

namespace corvane::platform {
namespace {

UINT ReadDefaultCodePage() {
  wchar_t text[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, text, 8) == 0) return CP_ACP;
  const UINT page = static_cast<UINT>(wcstoul(text, nullptr, 10));
  return page == 0 ? CP_ACP : page;
}

std::string FromWide(UINT codePage, std::wstring_view text, bool& ok) {
  ok = true;
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    ok = false;
    return {};
  }
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), size);
  return out;
}

std::string WideToAnsi(std::wstring_view text, bool& ok) { return FromWide(CP_ACP, text, ok); }

std::string WideToDefaultCodePage(std::wstring_view text, bool& ok) {
  static const UINT page = ReadDefaultCodePage();
  return FromWide(page, text, ok);
}

}  // namespace corvane::platform
