#include "reply_lines.h"

#include <charconv>

#include "channels.h"

namespace corvane::recorder {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

LineKind Classify(std::string_view line) {
  if (StartsWith(line, "<OK")) return LineKind::Ok;
  if (StartsWith(line, "<Fail")) return LineKind::Fail;
  if (StartsWith(line, "=")) return LineKind::Answer;
  if (StartsWith(line, "^")) return LineKind::Error;
  if (StartsWith(line, "&U")) return LineKind::Comment;
  if (StartsWith(line, "#abort")) return LineKind::Abort;
  if (line.size() >= 2 && line[0] == '+' && line[1] >= '0' && line[1] <= '9') {
    return LineKind::Data;
  }
  return LineKind::Other;
}

std::string LineText(LineKind kind, std::string_view line) {
  switch (kind) {
    case LineKind::Answer:
    case LineKind::Error:
      return std::string(Trim(line.substr(1)));
    case LineKind::Comment:
      return std::string(Trim(line.substr(2)));
    case LineKind::Abort:
      return std::string(Trim(line.substr(6)));
    default:
      return std::string(Trim(line));
  }
}

std::optional<DataLine> ParseDataLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  if (line.size() < 2 || line[0] != '+') return std::nullopt;
  const char* at = line.data() + 1;
  const char* end = line.data() + line.size();
  DataLine parsed;
  auto [next, error] = std::from_chars(at, end, parsed.channel);
  if (error != std::errc() || parsed.channel < 1 || parsed.channel > kChannelCount) {
    return std::nullopt;
  }
  at = next;
  while (at != end) {
    if (*at != ',') return std::nullopt;
    int32_t value = 0;
    const auto result = std::from_chars(at + 1, end, value);
    if (result.ec != std::errc()) return std::nullopt;
    parsed.values.push_back(value);
    at = result.ptr;
  }
  return parsed;
}

}  // namespace corvane::recorder
