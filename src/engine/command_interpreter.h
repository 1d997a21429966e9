// Pure helpers of the command interpreter.
#pragma once

#include <cstdint>

#include "support/mvx_string.h"

namespace corvane {

// What ParseInteger gives for text without a number; no command accepts it.
inline constexpr int32_t kNoNumber = -2147483647;

// Splits `line` at the first of `delimiters`: returns the text before it and
// leaves what follows it in `line`. With no delimiter (or an empty line) the
// whole line is the head and `line` becomes empty.
MVX::MVXString SplitHead(MVX::MVXString& line, const wchar_t* delimiters);

// Reads a decimal integer after optional white space, ignoring what follows;
// kNoNumber when there is none (or it does not fit in 32 bits).
int32_t ParseInteger(const MVX::MVXString& text);

}  // namespace corvane
