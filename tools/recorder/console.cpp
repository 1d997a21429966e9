#include "console.h"

#include <algorithm>
#include <cstdio>

#include "recorder_platform.h"

namespace corvane::recorder {

void Console::ClearStatusLocked() {
  if (mStatusShown) {
    std::fputs("\r\033[K", stdout);
    mStatusShown = false;
  }
}

void Console::Message(std::string_view text) {
  if (mQuiet) return;
  std::lock_guard lock(mMutex);
  ClearStatusLocked();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  if (mTerminal && !mStatus.empty()) {
    std::fputs(mStatus.c_str(), stdout);
    mStatusShown = true;
  }
  std::fflush(stdout);
}

void Console::Error(std::string_view text) {
  std::lock_guard lock(mMutex);
  ClearStatusLocked();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  if (mTerminal && !mStatus.empty() && !mQuiet) {
    std::fputs(mStatus.c_str(), stdout);
    mStatusShown = true;
    std::fflush(stdout);
  }
}

void Console::Status(std::string_view text, bool force) {
  if (mQuiet) return;
  std::lock_guard lock(mMutex);
  mStatus = text;
  if (mTerminal) {
    // A line longer than the terminal would wrap, and the next redraw would
    // clear only its last part.
    const int columns = TerminalColumns();
    if (columns > 1 && mStatus.size() >= static_cast<size_t>(columns)) {
      mStatus.resize(static_cast<size_t>(columns) - 1);
    }
    std::fputs("\r\033[K", stdout);
    std::fputs(mStatus.c_str(), stdout);
    mStatusShown = true;
  } else {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - mLastPlain < kPlainInterval) return;
    mLastPlain = now;
    std::fputs(mStatus.c_str(), stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
}

void Console::EndStatus() {
  std::lock_guard lock(mMutex);
  if (mStatusShown) {
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  mStatusShown = false;
  mStatus.clear();
}

std::string ProgressBar(int percent, std::string_view text, int width) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * width / 100;
  std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(width - filled), ' ') + "] ";
  const std::string number = std::to_string(percent);
  bar += std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "%";
  if (!text.empty()) bar += "  " + std::string(text);
  return bar;
}

std::string MinutesSeconds(double seconds) {
  const auto whole = static_cast<long>(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

std::string ProgressLine(std::string_view title, int percent, std::string_view text,
                         double elapsedSeconds, PhasePace pace) {
  std::string line = std::string(title) + (title.empty() ? "" : " ") +
                     ProgressBar(percent, "", kProgressLineBar) + "  " +
                     MinutesSeconds(elapsedSeconds);
  if (percent >= 100) {
    line += ", done";
  } else if (pace.percent > 0 && pace.seconds >= kPaceSeconds) {
    const double left = pace.seconds * (100 - percent) / pace.percent;
    line += ", about " + MinutesSeconds(left + 0.5) + " left";
  }
  // The text last: on a narrow terminal it is what gets cut.
  return text.empty() ? line : line + "  " + std::string(text);
}

}  // namespace corvane::recorder
