// The module's exception types.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "support/mvx_string.h"

namespace MVX {

// An error code with a wide message; what() gives the message as 8-bit text.
class XMVX : public std::exception {
 public:
  XMVX(uint32_t code, MVXString message);
  uint32_t Code() const { return mCode; }
  const MVXString& Message() const { return mMessage; }
  const char* what() const noexcept override { return mNarrow.c_str(); }

 private:
  uint32_t mCode;
  MVXString mMessage;
  std::string mNarrow;  // converted once, at construction
};

}  // namespace MVX

// A bad settings parameter; the command interpreter throws and catches it.
class DMSException : public MVX::XMVX {
 public:
  static constexpr uint32_t kCode = 0xA0048210;
  explicit DMSException(MVX::MVXString message) : XMVX(kCode, std::move(message)) {}
};
