// The lines that come back from the module's port, told apart by their first
// characters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::recorder {

enum class LineKind {
  Ok,       // "<OK": a command succeeded
  Fail,     // "<Fail": a command failed; the reason comes from the last error
  Answer,   // "=...": the answer to a query
  Error,    // "^...": an error text for the user
  Data,     // "+N,v,v,...": samples of channel N
  Comment,  // "&U...": a message for the user, or a recording comment
  Abort,    // "#abort ...": the recording must end
  Other,    // diagnostics and anything else
};

LineKind Classify(std::string_view line);

// True for the kinds that answer a command or query.
constexpr bool IsReply(LineKind kind) {
  return kind == LineKind::Ok || kind == LineKind::Fail || kind == LineKind::Answer ||
         kind == LineKind::Error;
}

// The text behind the prefix: the comment of "&U...", the reason of
// "#abort ...", the value of "=...", the message of "^..." (blanks trimmed).
std::string LineText(LineKind kind, std::string_view line);

struct DataLine {
  int channel = 0;  // 1..11
  std::vector<int32_t> values;
};

// "+N" or "+N,v,v,...", decimal with optional minus signs; nullopt for
// anything else (a channel outside 1..11 included).
std::optional<DataLine> ParseDataLine(std::string_view line);

}  // namespace corvane::recorder
