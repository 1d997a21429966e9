#include <windows.h>

#include "end_process.h"

namespace corvane::testing {

void EndProcessNow(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(INFINITE);
}

}  // namespace corvane::testing
