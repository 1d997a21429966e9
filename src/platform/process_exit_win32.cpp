#include "platform/process_exit.h"

namespace corvane::platform {

void RunBeforeStaticsAtExit(void (*)()) {}

}  // namespace corvane::platform
