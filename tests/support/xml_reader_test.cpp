// The XML reader: error codes and texts, the trees it builds, reading files,
// and inputs that must never crash it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/xml_reader.h"
#include "temp_folder.h"

namespace {

using MVX::FXMLElement;
using MVX::FXMLParser;

// name[attr=value,...]{text} with "!" before CDATA text, then (children).
std::wstring Dump(const FXMLElement& element) {
  std::wstring out = element.GetName();
  for (const auto& [name, value] : element.Attributes()) out += L'[' + name + L'=' + value + L']';
  out += L'{' + std::wstring(element.IsCData() ? L"!" : L"") + element.GetText() + L'}';
  for (const auto& child : element.GetChildren()) {
    EXPECT_EQ(child->Parent(), &element);
    out += L'(' + Dump(*child) + L')';
  }
  return out;
}

std::wstring Nested(int levels) {
  std::wstring text;
  for (int i = 0; i < levels; ++i) text += L"<e>";
  for (int i = 0; i < levels; ++i) text += L"</e>";
  return text;
}

struct ErrorCase {
  std::wstring input;
  int32_t code;
  std::wstring text;
};

TEST(XmlReader, FailuresGiveTheirCodeAndText) {
  const std::wstring kUnmatched = L"FXML reports parsing error.  Unmatched tag: Expecting ";
  const std::wstring kParseError = L"FXML reports parse error.";
  const ErrorCase cases[] = {
      {L"", -1, L"File not found or empty"},
      {L"\n<?xml version=\"1.0\"?><a/>", -2, L"Junk before the xml version header."},
      // A UTF-8 byte-order mark read as 8-bit text is three characters of junk.
      {L"\u00EF\u00BB\u00BF<?xml version=\"1.0\"?><a/>", -2,
       L"Junk before the xml version header."},
      {L"<?xml version=\"1.0\"<a/>", -3, L"Missing closing header bracket."},
      {L"<a>&nbsp;</a>", -6, L"Unrecognised entity or bogus &."},
      {L"<a v='&x'/>", -6, L"Unrecognised entity or bogus &."},
      {L"<a><![CDATA[x</a>", -5, L"Mismatched CDATA tag."},
      {L"<a>x]]>y</a>", -8, L"CDEnd character sequence (\"]]>\") outside CData section."},
      {L"<a></b>", -7, kUnmatched + L"a but encountered b at line: 1"},
      // Lines count from the top of the file, the removed header included.
      {L"<?xml version=\"1.0\"?>\n<a>\n <b>\n</c>", -7,
       kUnmatched + L"b but encountered c at line: 4"},
      // Scanning goes on after a mismatch: a later one replaces the message.
      {L"<a></b>\n</c>", -7, kUnmatched + L"a but encountered bc at line: 2"},
      {L"<1a/>", -9, L"Bad name first character 1. Must be alphabetic or either '_' or ':'."},
      {L"<a x='1' 2='2'/>", -9,
       L"Bad name first character 2. Must be alphabetic or either '_' or ':'."},
      {L"<a$/>", -4, L"Bad name character $. Must be alphnumeric or one of '.-_:'"},
      {L"<a x$='1'/>", -4, L"Bad name character $. Must be alphnumeric or one of '.-_:'"},
      {L"<\u00E9/>", -9,
       L"Bad name first character \u00E9. Must be alphabetic or either '_' or ':'."},
      // Text that ends inside an element, a tag or right after a "<".
      {L"<a><", -4, kParseError},
      {L"<a>text", -4, kParseError},
      {L"<a x='1", -4, kParseError},
      {L"   \n ", -4, kParseError},
      {L"<?xml version=\"1.0\"?>", -4, kParseError},
      // A comment after the text of an element takes the end tag for a child.
      {L"<a>x<!-- c --></a>", -4, kParseError},
      {Nested(FXMLParser::kMaxDepth + 1), -4, L"Elements nested deeper than 256 levels."},
  };
  FXMLParser parser;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.input));
    EXPECT_EQ(parser.Parse(c.input), nullptr);
    EXPECT_EQ(parser.ErrorCode(), c.code);
    EXPECT_EQ(parser.ErrorText(), c.text);
  }
  // A new parse resets the error.
  EXPECT_NE(parser.Parse(L"<a/>"), nullptr);
  EXPECT_EQ(parser.ErrorCode(), 0);
  EXPECT_EQ(parser.ErrorText(), L"");
}

TEST(XmlReader, BuildsTheTreeWithTextAttributesAndCData) {
  const struct {
    std::wstring input;
    std::wstring tree;
  } cases[] = {
      {L"<a>x&amp;y</a>", L"a{x&y}"},
      {L"<a>&lt;&gt;&amp;&apos;&quot;</a>", L"a{<>&'\"}"},
      {L"<a v=\"&quot;q&lt;\"/>", L"a[v=\"q<]{}"},
      {L"<a><![CDATA[<raw>]]></a>", L"a{!<raw>}"},
      {L"<a>lost<![CDATA[ & kept]]>after</a>", L"a{! & keptafter}"},
      {L"<a\nx='1'>t</a>", L"a[x=1]{t}"},
      {L"<a x = \"1\"\ty='2'\n/>", L"a[x=1][y=2]{}"},
      {L"<a x=\"it's\" y='a>b/c=d'/>", L"a[x=it's][y=a>b/c=d]{}"},
      {L"<a x='1' x='2'/>", L"a[x=1]{}"},
      {L"<a/>", L"a{}"},
      {L"<a></a >", L"a{}"},
      // Whitespace: leading blanks dropped, runs with a line break become one
      // blank only when text follows, other runs kept.
      {L"<a>\n  12\n</a>", L"a{ 12}"},
      {L"<a>one\n   two\n</a>", L"a{one two}"},
      {L"<a>x  y\t z </a>", L"a{x  y\t z }"},
      {L"<a>\n</a>", L"a{}"},
      // An element's text is the concatenation of its own runs.
      {L"<a>x<b>1</b>y<c/>z</a>", L"a{xyz}(b{1})(c{})"},
      {L"<a>\n  <b>1</b>\n  <b>2</b>\n</a>", L"a{}(b{1})(b{2})"},
      // Comments and declarations before an element are skipped.
      {L"<!-- note --><a>t</a>", L"a{t}"},
      {L"<?xml version=\"1.0\"?>\n<!DOCTYPE a>\n<!-- c -->\n<a><!-- c --><b/></a>", L"a{}(b{})"},
      // Whatever follows the document element is not read.
      {L"<a/>trailing <junk", L"a{}"},
  };
  FXMLParser parser;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.input));
    const auto document = parser.Parse(c.input);
    ASSERT_NE(document, nullptr) << testing::PrintToString(parser.ErrorText());
    EXPECT_EQ(Dump(*document), c.tree);
    EXPECT_EQ(parser.ErrorCode(), 0);
  }
  EXPECT_NE(parser.Parse(Nested(FXMLParser::kMaxDepth)), nullptr);
}

TEST(XmlReader, HeaderFindChildAndRemoveChild) {
  FXMLParser parser;
  auto document = parser.Parse(L"<?xml version=\"1.0\"?>\n<a><b>1</b><c/><b>2</b></a>");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(parser.Header(), L"<?xml version=\"1.0\"?>");
  const FXMLElement* b = document->FindChild(L"b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetText(), L"1");
  EXPECT_EQ(document->FindChild(L"B"), nullptr);  // names are case-sensitive
  // A removed child belongs to the caller; the next one of its name is found.
  const std::unique_ptr<FXMLElement> removed = document->RemoveChild(b);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->Parent(), nullptr);
  EXPECT_EQ(document->FindChild(L"b")->GetText(), L"2");
}

TEST(XmlReader, ReadTextFileDecodesByMark) {
  using namespace std::string_literals;
  const struct {
    std::wstring name;
    std::string bytes;
    int result;
    std::wstring text;
  } cases[] = {
      {L"crlf.xml", "<a>\r\nb\r</a>\r\n", 0, L"<a>\nb\r</a>\n"},
      // Each byte becomes the character of the same code.
      {L"latin.xml", "\xE9\x80\x00z"s, 0, std::wstring{L'\u00E9', L'\u0080', L'\0', L'z'}},
      {L"le16.xml", "\xFF\xFE<\0\xE9\0\x01\x20\r\0\n\0"s, 0, L"<\u00E9\u2001\r\n"},
      {L"be16.xml", "\xFE\xFF\0<"s, -1, L""},
      {L"empty.xml", "", 0, L""},
      {L"caf\u00E9 \u20AC.xml", "<a/>", 0, L"<a/>"},
  };
  const TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "file: " << testing::PrintToString(c.name));
    const std::wstring path = folder.Write(c.name, c.bytes);
    std::wstring text = L"stale";
    EXPECT_EQ(MVX::ReadTextFile(path, text), c.result);
    EXPECT_EQ(text, c.text);
  }
  std::wstring text = L"stale";
  EXPECT_EQ(MVX::ReadTextFile(folder.FilePath(L"missing.xml"), text), -1);
  EXPECT_EQ(text, L"");
}

// Whatever the input, a parse returns a tree with no error or null with one,
// and never crashes. The sanitizer build runs this too.
TEST(XmlReader, RandomAndTruncatedInputsNeverCrash) {
  FXMLParser parser;
  const auto check = [&](const std::wstring& input) {
    const auto document = parser.Parse(input);
    if (document) {
      EXPECT_EQ(parser.ErrorCode(), 0);
    } else {
      EXPECT_LT(parser.ErrorCode(), 0);
      EXPECT_FALSE(parser.ErrorText().empty());
    }
    return document != nullptr;
  };

  const std::wstring rich =
      L"<?xml version=\"1.0\"?>\r\n<!-- c -->\n<root a='1' b=\"&lt;2&gt;\">\n"
      L"  <x>t&amp;u</x><y/><z k = 'v'\n/>\t<![CDATA[<raw> ]]> tail\n"
      L"  <deep><d1><d2>&apos;&quot;</d2></d1></deep>\n</root>\n";
  ASSERT_TRUE(check(rich));
  for (size_t length = 0; length < rich.size(); ++length) {
    SCOPED_TRACE(length);
    check(rich.substr(0, length));
    check(rich.substr(length));
  }

  std::mt19937 random(18);
  const std::wstring alphabet = L"<>/=\"'!?&;[]CDATAltgampsquo-xab: \n\r\t\u00E9\u20AC";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<size_t> length(0, 120);
  std::uniform_int_distribution<size_t> position(0, rich.size() - 1);
  for (int round = 0; round < 20000; ++round) {
    std::wstring input;
    if (round % 2 == 0) {
      const size_t n = length(random);
      for (size_t i = 0; i < n; ++i) input += alphabet[pick(random)];
    } else {
      // Mutations of a valid document reach the deeper states.
      input = rich;
      for (int i = 0; i < 4; ++i) input[position(random)] = alphabet[pick(random)];
    }
    check(input);
  }

  // Far deeper than any stack would take as recursion.
  EXPECT_FALSE(check(Nested(100000)));
  EXPECT_EQ(parser.ErrorText(), L"Elements nested deeper than 256 levels.");
}

}  // namespace
