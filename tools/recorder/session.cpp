#include "session.h"

#include <chrono>

namespace corvane::recorder {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string WithoutCarriageReturn(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

void Session::Dispatch(LineKind kind, const std::string& line) {
  switch (kind) {
    case LineKind::Data:
      mListener.OnData(line);
      break;
    case LineKind::Comment:
      mListener.OnComment(LineText(kind, line));
      break;
    case LineKind::Abort:
      mListener.OnAbort(LineText(kind, line));
      break;
    default:
      mListener.OnOther(line);
      break;
  }
}

Reply Session::Exchange(std::string_view command, int timeoutMs) {
  mPort.Write(command);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    const auto line = mPort.Read(RemainingMs(deadline));
    if (!line) continue;
    const LineKind kind = Classify(*line);
    if (IsReply(kind)) return {kind, LineText(kind, *line)};
    Dispatch(kind, *line);
  } while (RemainingMs(deadline) > 0);
  return {};
}

std::optional<std::string> Session::ReadControlList(int timeoutMs, int quietMs) {
  mPort.Write("?in/controllist");
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::optional<std::string> text;
  while (!text) {
    const auto line = mPort.Read(RemainingMs(deadline));
    if (line) {
      const LineKind kind = Classify(*line);
      if (kind == LineKind::Answer) {
        text = WithoutCarriageReturn(line->substr(1));
      } else if (IsReply(kind)) {
        return std::nullopt;  // refused: "^..." or "<Fail"
      } else {
        Dispatch(kind, *line);
      }
    } else if (RemainingMs(deadline) == 0) {
      return std::nullopt;
    }
  }
  while (const auto line = mPort.Read(quietMs)) {
    const LineKind kind = Classify(*line);
    if (kind == LineKind::Data || kind == LineKind::Comment || kind == LineKind::Abort) {
      Dispatch(kind, *line);
    } else {
      *text += "\r\n" + WithoutCarriageReturn(*line);
    }
  }
  return text;
}

bool Session::Pump(int timeoutMs) {
  const auto line = mPort.Read(timeoutMs);
  if (!line) return false;
  Dispatch(Classify(*line), *line);
  return true;
}

}  // namespace corvane::recorder
