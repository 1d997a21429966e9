#include "support/mvx_string.h"

#include "platform/codepage.h"
#include "support/utf8.h"

namespace MVX {

MVXString MVXString::FromAnsi(std::string_view text) {
  return MVXString(corvane::platform::AnsiToWide(text));
}

std::string MVXString::ToUtf8() const { return WideToUtf8(*this); }

std::string MVXString::ToAnsi(bool& ok) const { return corvane::platform::WideToAnsi(*this, ok); }

std::string MVXString::ToDefaultCodePage(bool& ok) const {
  return corvane::platform::WideToDefaultCodePage(*this, ok);
}

}  // namespace MVX
