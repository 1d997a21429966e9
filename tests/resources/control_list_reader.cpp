#include "control_list_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

namespace corvane::control_list {
namespace {

constexpr std::array<std::string_view, 8> kControlKinds = {
    "text", "button", "checkbox", "popup", "radio", "group", "iconwarning", "okbutton"};

enum class ArgKind { Text, Name, Number };

// The actions a host carries out, with the arguments each one takes.
struct ActionShape {
  std::string_view verb;
  std::vector<ArgKind> args;
};

const std::vector<ActionShape>& ActionShapes() {
  static const std::vector<ActionShape> shapes = {
      {"command", {ArgKind::Text}},
      {"wait", {ArgKind::Number, ArgKind::Text}},
      {"enable", {ArgKind::Name}},
      {"disable", {ArgKind::Name}},
      {"show", {ArgKind::Name}},
      {"hide", {ArgKind::Name}},
      {"set", {ArgKind::Name, ArgKind::Text}},
      {"result", {ArgKind::Number}},
      {"close", {}},
  };
  return shapes;
}

enum class TokenKind { String, Name, Number, Punct, End };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // a string's bytes without quotes, a name, digits, or the punctuation mark
  int line = 1;
};

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

std::string Describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::String:
      return "\"" + token.text + "\"";
    case TokenKind::End:
      return "the end of the text";
    default:
      return "'" + token.text + "'";
  }
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : mText(text) {}

  // The first comment, if one comes before every token.
  const std::string& LeadingComment() const { return mLeadingComment; }

  Token Next() {
    SkipBlanksAndComments();
    Token token;
    token.line = mLine;
    if (mPos >= mText.size()) return token;
    const char c = mText[mPos];
    if (c == '"') {
      const size_t end = mText.find_first_of("\"\n", mPos + 1);
      if (end == std::string_view::npos || mText[end] != '"') {
        throw ParseError(mLine, "unterminated string");
      }
      token.kind = TokenKind::String;
      token.text = std::string(mText.substr(mPos + 1, end - mPos - 1));
      mPos = end + 1;
    } else if (IsNameStart(c)) {
      const size_t start = mPos;
      while (mPos < mText.size() && IsNameChar(mText[mPos])) ++mPos;
      token.kind = TokenKind::Name;
      token.text = std::string(mText.substr(start, mPos - start));
    } else if (IsDigit(c) || (c == '-' && mPos + 1 < mText.size() && IsDigit(mText[mPos + 1]))) {
      const size_t start = mPos++;
      while (mPos < mText.size() && IsDigit(mText[mPos])) ++mPos;
      token.kind = TokenKind::Number;
      token.text = std::string(mText.substr(start, mPos - start));
    } else if (c == '(' || c == ')' || c == '{' || c == '}' || c == ',' || c == '=') {
      token.kind = TokenKind::Punct;
      token.text = std::string(1, c);
      ++mPos;
    } else {
      throw ParseError(mLine, "unexpected character '" + std::string(1, c) + "'");
    }
    mSeenToken = true;
    return token;
  }

 private:
  void SkipBlanksAndComments() {
    while (mPos < mText.size()) {
      const char c = mText[mPos];
      if (IsBlank(c)) {
        if (c == '\n') ++mLine;
        ++mPos;
      } else if (mText.substr(mPos, 2) == "//") {
        const size_t end = std::min(mText.find('\n', mPos), mText.size());
        Remember(mText.substr(mPos + 2, end - mPos - 2));
        mPos = end;
      } else if (mText.substr(mPos, 2) == "/*") {
        const size_t end = mText.find("*/", mPos + 2);
        if (end == std::string_view::npos) throw ParseError(mLine, "unterminated comment");
        const std::string_view body = mText.substr(mPos + 2, end - mPos - 2);
        Remember(body);
        mLine += static_cast<int>(std::count(body.begin(), body.end(), '\n'));
        mPos = end + 2;
      } else {
        return;
      }
    }
  }

  void Remember(std::string_view comment) {
    if (!mSeenToken && !mHaveLeadingComment) {
      mLeadingComment = Trim(comment);
      mHaveLeadingComment = true;
    }
  }

  std::string_view mText;
  size_t mPos = 0;
  int mLine = 1;
  bool mSeenToken = false;
  bool mHaveLeadingComment = false;
  std::string mLeadingComment;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : mLexer(text) { Advance(); }

  ControlList Parse() {
    ControlList list;
    list.headerComment = mLexer.LeadingComment();
    while (mToken.kind != TokenKind::End) list.dialogs.push_back(ParseDialog());
    if (list.dialogs.empty()) Fail("the text holds no dialog");
    return list;
  }

 private:
  void Advance() { mToken = mLexer.Next(); }

  [[noreturn]] void Fail(const std::string& message) const {
    throw ParseError(mToken.line, message);
  }
  [[noreturn]] void Expected(const std::string& what) const {
    Fail("expected " + what + " but found " + Describe(mToken));
  }

  bool IsPunct(char c) const { return mToken.kind == TokenKind::Punct && mToken.text[0] == c; }
  bool IsName(std::string_view name) const {
    return mToken.kind == TokenKind::Name && mToken.text == name;
  }

  void Expect(char c) {
    if (!IsPunct(c)) Expected(std::string("'") + c + "'");
    Advance();
  }

  std::string Take(TokenKind kind, const std::string& what) {
    if (mToken.kind != kind) Expected(what);
    std::string text = std::move(mToken.text);
    Advance();
    return text;
  }

  int TakeNumber() {
    if (mToken.kind != TokenKind::Number) Expected("a number");
    int value = 0;
    const char* first = mToken.text.data();
    const char* last = first + mToken.text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) Fail("number out of range: " + mToken.text);
    Advance();
    return value;
  }

  // Name(x, y, width, height); the name goes to `name`.
  Rect ParseNamedRect(std::string& name) {
    name = Take(TokenKind::Name, "a name");
    Expect('(');
    Rect rect;
    rect.x = TakeNumber();
    Expect(',');
    rect.y = TakeNumber();
    Expect(',');
    rect.width = TakeNumber();
    Expect(',');
    rect.height = TakeNumber();
    Expect(')');
    return rect;
  }

  Dialog ParseDialog() {
    Dialog dialog;
    dialog.title = Take(TokenKind::String, "a dialog title");
    bool haveTag = false;
    while (IsPunct(',')) {
      Advance();
      const int line = mToken.line;
      const std::string property = Take(TokenKind::Name, "a dialog property");
      if (IsPunct('=')) Advance();
      if (property == "tag") {
        dialog.rect = ParseNamedRect(dialog.tagName);
        haveTag = true;
      } else if (property == "menuname") {
        dialog.menuName = Take(TokenKind::String, "a menu entry");
      } else if (property == "modeless") {
        dialog.modeless = TakeNumber() != 0;
      } else if (property == "helpfile") {
        dialog.helpFile = Take(TokenKind::String, "a help file name");
      } else if (property == "helptopic") {
        dialog.helpTopic = Take(TokenKind::String, "a help topic");
      } else {
        throw ParseError(line, "unknown dialog property '" + property + "'");
      }
    }
    if (!haveTag) Fail("dialog \"" + dialog.title + "\" has no tag");
    Expect('{');
    if (!IsPunct('}')) {
      dialog.controls.push_back(ParseControl());
      while (IsPunct(',')) {
        Advance();
        dialog.controls.push_back(ParseControl());
      }
    }
    Expect('}');
    return dialog;
  }

  Control ParseControl() {
    Control control;
    control.label = Take(TokenKind::String, "a control label");
    const int kindLine = mToken.line;
    control.kind = Take(TokenKind::Name, "a control kind");
    if (std::find(kControlKinds.begin(), kControlKinds.end(), control.kind) ==
        kControlKinds.end()) {
      throw ParseError(kindLine, "unknown control kind '" + control.kind + "'");
    }
    control.rect = ParseNamedRect(control.name);
    if (IsPunct('{')) {
      Advance();
      control.items.push_back(ParseItem());
      while (IsPunct(',')) {
        Advance();
        control.items.push_back(ParseItem());
      }
      Expect('}');
    }
    return control;
  }

  // The markers may stand before or after the action block.
  void ParseMarkers(Item& item) {
    while (mToken.kind == TokenKind::Name) {
      if (IsName("default")) {
        item.isDefault = true;
      } else if (IsName("failed")) {
        item.isFailed = true;
      } else {
        Fail("unknown item marker '" + mToken.text + "'");
      }
      Advance();
    }
  }

  Item ParseItem() {
    Item item;
    item.label = Take(TokenKind::String, "an item label");
    ParseMarkers(item);
    Expect('{');
    if (!IsPunct('}')) {
      item.actions.push_back(ParseAction());
      while (IsPunct(',')) {
        Advance();
        item.actions.push_back(ParseAction());
      }
    }
    Expect('}');
    ParseMarkers(item);
    return item;
  }

  Action ParseAction() {
    Action action;
    const int line = mToken.line;
    action.verb = Take(TokenKind::Name, "an action");
    const auto& shapes = ActionShapes();
    const auto shape = std::find_if(shapes.begin(), shapes.end(),
                                    [&](const ActionShape& s) { return s.verb == action.verb; });
    if (shape == shapes.end()) throw ParseError(line, "unknown action '" + action.verb + "'");
    Expect('(');
    for (size_t i = 0; i < shape->args.size(); ++i) {
      if (i > 0) Expect(',');
      switch (shape->args[i]) {
        case ArgKind::Text:
          action.args.push_back(Take(TokenKind::String, "a quoted text"));
          break;
        case ArgKind::Name:
          action.args.push_back(Take(TokenKind::Name, "a control name"));
          break;
        case ArgKind::Number:
          action.args.push_back(std::to_string(TakeNumber()));
          break;
      }
    }
    if (!IsPunct(')')) {
      Fail(action.verb + " takes " + std::to_string(shape->args.size()) + " argument(s); found " +
           Describe(mToken));
    }
    Advance();
    return action;
  }

  Lexer mLexer;
  Token mToken;
};

}  // namespace

ParseError::ParseError(int line, const std::string& message)
    : std::runtime_error("control list, line " + std::to_string(line) + ": " + message),
      mLine(line) {}

ControlList ParseControlList(std::string_view text) { return Parser(text).Parse(); }

std::vector<std::string> SentLines(const ControlList& list) {
  std::vector<std::string> lines;
  for (const Dialog& dialog : list.dialogs) {
    for (const Control& control : dialog.controls) {
      for (const Item& item : control.items) {
        for (const Action& action : item.actions) {
          if (action.verb == "command" || action.verb == "wait") {
            lines.push_back(action.args.back());
          }
        }
      }
    }
  }
  return lines;
}

}  // namespace corvane::control_list
