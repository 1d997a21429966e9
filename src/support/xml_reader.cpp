#include "support/xml_reader.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/fs_path.h"

namespace MVX {
namespace {

constexpr wchar_t kEmptyName[] = L"Invalid.Empty.Name.Supplied";
constexpr wchar_t kHeaderStart[] = L"<?xml version=";
constexpr wchar_t kCDataStart[] = L"<![CDATA[";
constexpr wchar_t kCDataEnd[] = L"]]>";

struct Entity {
  std::wstring_view text;
  wchar_t character;
};
// Compared in this order.
constexpr std::array<Entity, 5> kEntities = {
    {{L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&amp;", L'&'}, {L"&apos;", L'\''}, {L"&quot;", L'"'}}};

enum class State {
  kStart,
  kTagOpen,  // after "<"
  kTagName,
  kInTag,  // after the name, between attributes
  kAttrName,
  kAfterEquals,
  kAttrValue,
  kContent,
  kEndTag,   // after "</", or the "/" of a self-closing tag
  kSkipping  // inside "<!" or "<?", up to the next ">"
};

// Both tests look at the whole character code: only ASCII qualifies.
bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsFirstNameCharacter(wchar_t c) { return IsLetter(c) || c == L'_' || c == L':'; }
bool IsNameCharacter(wchar_t c) {
  return IsLetter(c) || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-' || c == L':' ||
         c == L'.';
}

bool StartsWithAt(const std::wstring& text, size_t pos, std::wstring_view prefix) {
  return text.compare(pos, prefix.size(), prefix) == 0;
}

uint32_t CountLineFeeds(const std::wstring& text, size_t from, size_t to) {
  return static_cast<uint32_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(from),
                                          text.begin() + static_cast<std::ptrdiff_t>(to), L'\n'));
}

}  // namespace

int ReadTextFile(const std::wstring& path, std::wstring& text) {
  text.clear();
  std::ifstream file(corvane::platform::ToFsPath(path), std::ios::binary);
  if (!file) return -1;
  std::string bytes;
  std::array<char, 65536> chunk{};
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    bytes.append(chunk.data(), static_cast<size_t>(file.gcount()));
  }
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return -1;
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<wchar_t>(byte(i) | (byte(i + 1) << 8)));
    }
    return 0;
  }
  // 8-bit text as the runtime reads it in text mode and the default locale.
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (byte(i) == '\r' && i + 1 < bytes.size() && byte(i + 1) == '\n') continue;
    text.push_back(static_cast<wchar_t>(byte(i)));
  }
  return 0;
}

const FXMLElement* FXMLElement::FindChild(const std::wstring& name) const {
  for (const auto& child : mChildren) {
    if (child->mName == name) return child.get();
  }
  return nullptr;
}

void FXMLElement::SetName(const std::wstring& name) { mName = name.empty() ? kEmptyName : name; }

void FXMLElement::SetText(const std::wstring& text) {
  mText = text;
  mCData = false;
}

void FXMLElement::SetCData(const std::wstring& text) {
  mText = text;
  mCData = true;
}

void FXMLElement::AddAttribute(const std::wstring& name, const std::wstring& value) {
  mAttributes.emplace(name.empty() ? kEmptyName : name, value);
}

FXMLElement& FXMLElement::AddChild(std::unique_ptr<FXMLElement> child) {
  child->mParent = this;
  mChildren.push_back(std::move(child));
  return *mChildren.back();
}

std::unique_ptr<FXMLElement> FXMLElement::RemoveChild(const FXMLElement* child) {
  for (auto it = mChildren.begin(); it != mChildren.end(); ++it) {
    if (it->get() != child) continue;
    std::unique_ptr<FXMLElement> removed = std::move(*it);
    mChildren.erase(it);
    removed->mParent = nullptr;
    return removed;
  }
  return nullptr;
}

// The text being parsed with the position and line counter that nested
// element parses share with their parents.
struct FXMLParser::Cursor {
  const std::wstring& text;
  size_t pos;
  uint32_t line;
};

void FXMLParser::Fail(int32_t code, std::wstring text) {
  mErrorCode = code;
  mErrorText = std::move(text);
}

std::unique_ptr<FXMLElement> FXMLParser::Parse(std::wstring text) {
  mHeader.clear();
  mErrorCode = 0;
  mErrorText.clear();
  if (text.empty()) {
    Fail(kEmpty, L"File not found or empty");
    return nullptr;
  }
  uint32_t firstLine = 1;
  const size_t header = text.find(kHeaderStart);
  if (header == 0) {
    const size_t close = text.find(L"?>");
    if (close == std::wstring::npos) {
      Fail(kUnclosedHeader, L"Missing closing header bracket.");
      return nullptr;
    }
    mHeader = text.substr(0, close + 2);
    const size_t element = std::min(text.find(L'<', close + 2), text.size());
    // Line numbers in messages stay those of the file.
    firstLine += CountLineFeeds(text, 0, element);
    text.erase(0, element);
  } else if (header != std::wstring::npos) {
    Fail(kJunkBeforeHeader, L"Junk before the xml version header.");
    return nullptr;
  }
  Cursor cursor{text, 0, firstLine};
  std::unique_ptr<FXMLElement> document = ParseElement(cursor, 1);
  if (!document) {
    if (mErrorCode == 0) mErrorCode = kParseError;
    if (mErrorText.empty()) mErrorText = L"FXML reports parse error.";
  }
  return document;
}

std::unique_ptr<FXMLElement> FXMLParser::ParseElement(Cursor& cursor, int depth) {
  const std::wstring& text = cursor.text;
  State state = State::kStart;
  State savedState = State::kStart;
  std::wstring token;
  std::wstring name;  // as first read, for the end tag
  std::wstring attributeName;
  wchar_t quote = 0;
  bool collapsing = false;
  bool pendingBlank = false;
  bool cdata = false;
  bool unmatched = false;  // an end tag did not match: scan on, then fail
  std::unique_ptr<FXMLElement> element;

  // Any character without a role of its own in the current state: a name
  // character in a tag, text elsewhere. Returns false when it ends the parse
  // with an error.
  const auto ordinary = [&](wchar_t c) {
    if (pendingBlank) token += L' ';
    collapsing = false;
    pendingBlank = false;
    switch (state) {
      case State::kTagOpen:
      case State::kInTag:
        if (!IsFirstNameCharacter(c) && c != L'{' && !(state == State::kTagOpen && c == L'/')) {
          Fail(kBadNameFirstCharacter, std::wstring(L"Bad name first character ") + c +
                                           L". Must be alphabetic or either '_' or ':'.");
          return false;
        }
        state = state == State::kTagOpen ? State::kTagName : State::kAttrName;
        token += c;
        return true;
      case State::kTagName:
      case State::kAttrName:
        if (!IsNameCharacter(c) && c != L'}') {
          Fail(kParseError, std::wstring(L"Bad name character ") + c +
                                L". Must be alphnumeric or one of '.-_:'");
          return false;
        }
        token += c;
        return true;
      case State::kSkipping:
        return true;
      default:
        token += c;
        return true;
    }
  };
  const auto takeName = [&] {
    element->SetName(token);
    name = token;
  };

  for (; cursor.pos < text.size(); ++cursor.pos) {
    const wchar_t c = text[cursor.pos];
    if (c == L'\n') ++cursor.line;
    switch (c) {
      case L'<':
        if (state == State::kAttrValue) {
          if (!ordinary(c)) return nullptr;
        } else if (state == State::kStart) {
          // Whatever stood before the first "<" is not part of the name.
          element = std::make_unique<FXMLElement>();
          token.clear();
          state = State::kTagOpen;
        } else if (state == State::kContent) {
          if (StartsWithAt(text, cursor.pos, kCDataStart)) {
            const size_t from = cursor.pos + std::size(kCDataStart) - 1;
            const size_t end = text.find(kCDataEnd, from);
            if (end == std::wstring::npos) {
              Fail(kMismatchedCData, L"Mismatched CDATA tag.");
              return nullptr;
            }
            token.assign(text, from, end - from);
            cdata = true;
            cursor.line += CountLineFeeds(text, from, end);
            cursor.pos = end + 2;  // on the closing ">"
          } else if (cursor.pos + 1 < text.size() && text[cursor.pos + 1] == L'/') {
            if (cdata) {
              element->SetCData(token);
            } else {
              element->SetText(token);
            }
            token.clear();
            // A line break before the end tag must not become a blank in
            // front of the end tag's name.
            collapsing = false;
            pendingBlank = false;
            state = State::kEndTag;
          } else {
            if (depth >= kMaxDepth) {
              Fail(kParseError,
                   L"Elements nested deeper than " + std::to_wstring(kMaxDepth) + L" levels.");
              return nullptr;
            }
            // The child parses from this "<" and leaves the shared position
            // on its closing ">".
            std::unique_ptr<FXMLElement> child = ParseElement(cursor, depth + 1);
            if (!child) return nullptr;
            element->AddChild(std::move(child));
          }
        }
        break;

      case L'>':
        if (state == State::kContent || state == State::kAttrValue) {
          if (!ordinary(c)) return nullptr;
        } else if (state == State::kTagName) {
          takeName();
          token.clear();
          state = State::kContent;
        } else if (state == State::kInTag) {
          token.clear();
          state = State::kContent;
        } else if (state == State::kEndTag) {
          // After a mismatch the element is gone but the scan goes on to the
          // end of the text, so a later mismatch or error has the last word.
          if (!token.empty() && token != name) {
            Fail(kUnmatchedTag, L"FXML reports parsing error.  Unmatched tag: Expecting " + name +
                                    L" but encountered " + token + L" at line: " +
                                    std::to_wstring(cursor.line));
            unmatched = true;
            element.reset();
          } else if (!unmatched) {
            // The line break that ends the element's line goes with it.
            const size_t next = cursor.pos + 1;
            if (next < text.size() && (text[next] == L'\n' || text[next] == L'\r')) {
              if (text[next] == L'\n') ++cursor.line;
              cursor.pos = next;
            }
            return element;
          }
        } else if (state == State::kSkipping) {
          state = savedState;
        }
        break;

      case L'/':
        if (state == State::kTagName || state == State::kInTag) {
          // A self-closing tag: its name stays in the token for the check at ">".
          if (!token.empty()) takeName();
          state = State::kEndTag;
        } else if (state != State::kEndTag && state != State::kSkipping) {
          if (!ordinary(c)) return nullptr;
        }
        break;

      case L'=':
        if (state == State::kAttrName) {
          attributeName = token;
          token.clear();
          state = State::kAfterEquals;
        } else if (state != State::kSkipping) {
          if (!ordinary(c)) return nullptr;
        }
        break;

      case L'"':
      case L'\'':
        if (state == State::kAfterEquals) {
          quote = c;
          state = State::kAttrValue;
        } else if (state == State::kAttrValue && c == quote) {
          element->AddAttribute(attributeName, token);
          attributeName.clear();
          token.clear();
          state = State::kInTag;
        } else if (state != State::kSkipping) {
          if (!ordinary(c)) return nullptr;
        }
        break;

      case L'!':
      case L'?':
        if (state == State::kTagOpen) {
          savedState = state;
          state = State::kSkipping;
        } else if (!ordinary(c)) {
          return nullptr;
        }
        break;

      case L'&': {
        const auto entity = std::find_if(kEntities.begin(), kEntities.end(), [&](const Entity& e) {
          return StartsWithAt(text, cursor.pos, e.text);
        });
        if (entity != kEntities.end()) {
          cursor.pos += entity->text.size() - 1;
          if (!ordinary(entity->character)) return nullptr;
        } else if (state == State::kContent || state == State::kAttrValue) {
          Fail(kBadEntity, L"Unrecognised entity or bogus &.");
          return nullptr;
        } else if (!ordinary(c)) {
          return nullptr;
        }
        break;
      }

      case L']':
        if (StartsWithAt(text, cursor.pos, kCDataEnd) && state != State::kAttrValue &&
            state != State::kAfterEquals) {
          Fail(kCDataEndOutside, L"CDEnd character sequence (\"]]>\") outside CData section.");
          return nullptr;
        }
        if (!ordinary(c)) return nullptr;
        break;

      case L' ':
      case L'\t':
      case L'\r':
      case L'\n':
        if (state == State::kContent) {
          if (c == L'\r' || c == L'\n') {
            collapsing = true;
            pendingBlank = true;
          } else if (!collapsing && !token.empty()) {
            token += c;
          }
        } else if (state == State::kAttrValue) {
          token += c;
        } else if (state == State::kTagName) {
          takeName();
          token.clear();
          state = State::kInTag;
        }
        break;

      default:
        if (!ordinary(c)) return nullptr;
        break;
    }
  }
  // The text ended before the element did.
  return nullptr;
}

}  // namespace MVX
