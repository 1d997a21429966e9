// Text conversions at the module's edges: ANSI in, UTF-8 to the rings and the
// trace, the ANSI and user-default code pages out.
#include <gtest/gtest.h>

#include <locale>

#include "support/mvx_string.h"
#include "support/utf8.h"

using MVX::MVXString;

TEST(Conversion, AnsiBytesBecomeTheirWindows1252Characters) {
  // 0x80 and 0x9F lie in the range where 1252 differs from Latin-1.
  const MVXString text = MVXString::FromAnsi("A\xE9\x80\x9F\xFF");
  EXPECT_EQ(text, std::wstring(L"A\u00E9\u20AC\u0178\u00FF"));
  EXPECT_TRUE(MVXString::FromAnsi("").empty());
}

TEST(Conversion, WideToUtf8EncodesEveryPlaneAndStopsAtTheFirstNul) {
  EXPECT_EQ(MVXString(L"plain").ToUtf8(), "plain");
  EXPECT_EQ(MVXString(L"\u00E9\u20AC").ToUtf8(), "\xC3\xA9\xE2\x82\xAC");
  // Outside the Basic Multilingual Plane: a surrogate pair on Windows, one
  // character on Linux; four UTF-8 bytes either way.
  EXPECT_EQ(MVXString(L"x\U0001F600y").ToUtf8(), "x\xF0\x9F\x98\x80y");
  EXPECT_EQ(MVXString(std::wstring(L"ab\0cd", 5)).ToUtf8(), "ab");
  // A lone surrogate cannot be encoded and becomes U+FFFD.
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(MVXString(lone).ToUtf8(), "\xEF\xBF\xBD");
}

TEST(Conversion, Utf8DecodesBackAndReplacesMalformedInput) {
  EXPECT_EQ(MVX::Utf8ToWide("x\xF0\x9F\x98\x80\xC3\xA9"), std::wstring(L"x\U0001F600\u00E9"));
  EXPECT_EQ(MVX::Utf8ToWide("a\xC3"), std::wstring(L"a\uFFFD"));          // cut short
  EXPECT_EQ(MVX::Utf8ToWide("\xC0\xAF"), std::wstring(L"\uFFFD\uFFFD"));  // overlong
  EXPECT_EQ(MVX::Utf8ToWide("\xED\xA0\x80"), std::wstring(L"\uFFFD"));   // surrogate
}

TEST(Conversion, AnsiAndDefaultCodePageOut) {
  bool ok = false;
  EXPECT_EQ(MVXString(L"A\u00E9\u20AC").ToAnsi(ok), "A\xE9\x80");
  EXPECT_TRUE(ok);
  EXPECT_EQ(MVXString(L"x\u4E2Dy").ToAnsi(ok), "x?y");
  EXPECT_TRUE(ok);
  // The user's default code page is Windows-1252 on Linux and the locale's
  // (often an OEM page) on Windows: single bytes per character either way.
  ok = false;
  const std::string local = MVXString(L"Caf\u00E9 \u2013 ok").ToDefaultCodePage(ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(local.size(), 9u);
  EXPECT_EQ(local.substr(0, 3), "Caf");
  EXPECT_EQ(local.substr(6), " ok");
  EXPECT_GE(static_cast<unsigned char>(local[3]), 0x80u);  // one byte for the e-acute
  EXPECT_EQ(MVXString(L"").ToDefaultCodePage(ok), "");
  EXPECT_TRUE(ok);
}

namespace {
struct Grouping : std::numpunct<wchar_t> {
  std::string do_grouping() const override { return "\3"; }
  wchar_t do_thousands_sep() const override { return L','; }
};
}  // namespace

TEST(OStringStream, WritesPlainDecimalWhateverTheGlobalLocale) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new Grouping));
  std::wostringstream plain;
  plain << 1234567;
  MVX::OStringStream ours;
  ours << 1234567 << L' ' << -32000 << L' ' << 4294967295u;
  std::locale::global(previous);
  EXPECT_EQ(plain.str(), L"1,234,567");  // the process locale would group
  EXPECT_EQ(ours.Str(), std::wstring(L"1234567 -32000 4294967295"));
}
