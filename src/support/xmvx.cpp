#include "support/xmvx.h"

namespace MVX {

XMVX::XMVX(uint32_t code, MVXString message)
    : mCode(code), mMessage(std::move(message)), mNarrow(mMessage.ToUtf8()) {}

}  // namespace MVX
