// Feeds arbitrary text to the XML reader (the first byte chooses how the rest
// becomes wide text, see wide_text.h) and walks the tree it gives back, as
// the firmware image does. Checked besides the sanitizers: a document comes
// back exactly when no error is reported, every error has a text, and every
// element of the tree is its children's parent and has a name.
#include <cstddef>
#include <cstdint>

#include "support/xml_reader.h"
#include "wide_text.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Walks the tree; its depth is bounded by the reader's nesting limit.
void Walk(const MVX::FXMLElement& element) {
  Check(!element.GetName().empty());
  for (const auto& child : element.GetChildren()) {
    Check(child->Parent() == &element);
    Walk(*child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MVX::FXMLParser parser;
  const auto document = parser.Parse(corvane::fuzz::WideText(data, size));
  Check((document == nullptr) == (parser.ErrorCode() < 0));
  if (document == nullptr) {
    Check(!parser.ErrorText().empty());
    return 0;
  }
  // The look-ups the firmware image makes.
  if (const MVX::FXMLElement* binary = document->FindChild(L"Binary")) {
    for (const wchar_t* name : {L"Major", L"Data"}) {
      if (const MVX::FXMLElement* field = binary->FindChild(name)) field->GetText();
    }
  }
  Walk(*document);
  return 0;
}
