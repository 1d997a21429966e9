// The module's small XML reader: whole text files into a tree of elements.
//
// No namespaces, document types or validation; five predefined entities and
// CDATA sections; comments, declarations and processing instructions are
// skipped. Failures are a negative code with an English text, never an
// exception.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace MVX {

// Reads a whole file into `text` (emptied first). A file opening with the
// little-endian UTF-16 mark is read as 16-bit units; any other file as 8-bit
// text, each byte becoming the character of the same code, with CR LF pairs
// turned into LF. Returns 0, or -1 when the file cannot be opened or opens
// with the big-endian UTF-16 mark.
int ReadTextFile(const std::wstring& path, std::wstring& text);

// One element of a parsed document. An element owns its children; destroying
// it destroys its whole subtree.
class FXMLElement {
 public:
  using Children = std::list<std::unique_ptr<FXMLElement>>;

  FXMLElement() = default;
  virtual ~FXMLElement() = default;
  FXMLElement(const FXMLElement&) = delete;
  FXMLElement& operator=(const FXMLElement&) = delete;

  std::wstring GetName() const { return mName; }
  std::wstring GetText() const { return mText; }
  bool IsCData() const { return mCData; }
  const std::map<std::wstring, std::wstring>& Attributes() const { return mAttributes; }
  const FXMLElement* Parent() const { return mParent; }
  const Children& GetChildren() const { return mChildren; }

  // The first child, in document order, whose name equals `name` exactly.
  const FXMLElement* FindChild(const std::wstring& name) const;

  // An empty name is replaced by "Invalid.Empty.Name.Supplied".
  void SetName(const std::wstring& name);
  void SetText(const std::wstring& text);   // clears the CDATA flag
  void SetCData(const std::wstring& text);  // sets the CDATA flag
  // A name given twice keeps its first value.
  void AddAttribute(const std::wstring& name, const std::wstring& value);
  // Appends `child` and makes this element its parent.
  FXMLElement& AddChild(std::unique_ptr<FXMLElement> child);
  // Unlinks `child` and hands it back to the caller (null when it is not a
  // child of this element).
  std::unique_ptr<FXMLElement> RemoveChild(const FXMLElement* child);

 private:
  std::wstring mName;
  std::wstring mText;
  std::map<std::wstring, std::wstring> mAttributes;
  bool mCData = false;
  FXMLElement* mParent = nullptr;
  Children mChildren;
};

// Runs parses; the error code and text of the last one stay readable.
class FXMLParser {
 public:
  // Error codes; every failure also sets a text.
  static constexpr int32_t kEmpty = -1;
  static constexpr int32_t kJunkBeforeHeader = -2;
  static constexpr int32_t kUnclosedHeader = -3;
  static constexpr int32_t kParseError = -4;
  static constexpr int32_t kMismatchedCData = -5;
  static constexpr int32_t kBadEntity = -6;
  static constexpr int32_t kUnmatchedTag = -7;
  static constexpr int32_t kCDataEndOutside = -8;
  static constexpr int32_t kBadNameFirstCharacter = -9;

  // Elements nested deeper than this are refused with kParseError: each level
  // is one level of recursion, and a hostile file must not exhaust the stack.
  static constexpr int kMaxDepth = 256;

  // The document element, or null with the error code and text set.
  std::unique_ptr<FXMLElement> Parse(std::wstring text);

  int32_t ErrorCode() const { return mErrorCode; }
  const std::wstring& ErrorText() const { return mErrorText; }
  // The XML declaration taken off the text, "?>" included; empty if none.
  const std::wstring& Header() const { return mHeader; }

 private:
  struct Cursor;
  std::unique_ptr<FXMLElement> ParseElement(Cursor& cursor, int depth);
  void Fail(int32_t code, std::wstring text);

  std::wstring mHeader;
  int32_t mErrorCode = 0;
  std::wstring mErrorText;
};

}  // namespace MVX
