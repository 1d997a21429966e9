// The terminal: one status line redrawn in place, messages on lines of their
// own above it, errors on standard error. Without a terminal the status is
// printed as a plain line now and then. Safe to use from several threads.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace corvane::recorder {

class Console {
 public:
  Console(bool quiet, bool terminal) : mQuiet(quiet), mTerminal(terminal) {}

  bool Quiet() const { return mQuiet; }

  // A line of its own (a comment, a notice); not shown when quiet.
  void Message(std::string_view text);
  // Always shown, on standard error.
  void Error(std::string_view text);
  // The status line: redrawn in place on a terminal; otherwise printed when
  // `force` is set or at most every `kPlainInterval`.
  void Status(std::string_view text, bool force = false);
  // Ends the status line, so that what follows starts on a new line.
  void EndStatus();

  static constexpr std::chrono::seconds kPlainInterval{5};

 private:
  void ClearStatusLocked();

  std::mutex mMutex;
  const bool mQuiet;
  const bool mTerminal;
  std::string mStatus;  // the status shown on the terminal's last line
  bool mStatusShown = false;
  std::chrono::steady_clock::time_point mLastPlain{};
};

// "[#########           ]  45%  text": a progress bar of `width` cells.
std::string ProgressBar(int percent, std::string_view text, int width = 30);

// "m:ss".
std::string MinutesSeconds(double seconds);

// How far the current phase of a task (one text of its window) has got.
struct PhasePace {
  int percent = 0;     // percentage points since the phase began
  double seconds = 0;  // time since the phase began
};
// The phases of a task move at paces of their own: the time left is
// estimated from the current phase's, once it has moved a point and run
// this long.
inline constexpr double kPaceSeconds = 0.5;

// A progress window as one line: its title, the bar, the time so far and,
// while it runs, an estimate of the time left from the phase's pace (none
// until there is one), then the window's text: "Updating [####      ]  40%
// 0:04, about 0:06 left  Erasing".
inline constexpr int kProgressLineBar = 20;
std::string ProgressLine(std::string_view title, int percent, std::string_view text,
                         double elapsedSeconds, PhasePace pace);

}  // namespace corvane::recorder
