#include <windows.h>

#include "platform/debug_output.h"

namespace corvane::platform {

void DebugOutput(const std::string& utf8) { OutputDebugStringA(utf8.c_str()); }

}  // namespace corvane::platform
