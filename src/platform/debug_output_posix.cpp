#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"

namespace corvane::platform {

void DebugOutput(const std::string& utf8) {
  if (std::getenv("CORVANE_TRACE") == nullptr) return;
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

}  // namespace corvane::platform
