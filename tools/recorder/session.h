// The conversation with the device over the module's port: commands out,
// reply lines back. Data, comments and abort requests may arrive at any
// moment, in between the replies; they go to the listener wherever they come.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "reply_lines.h"

namespace corvane::recorder {

// The module's port 0 as a line device.
class Port {
 public:
  virtual ~Port() = default;
  // Sends one command line; the line feed is added here.
  virtual void Write(std::string_view line) = 0;
  // The next reply line (without its line end), or nothing after `timeoutMs`.
  virtual std::optional<std::string> Read(int timeoutMs) = 0;
};

// Receives the lines that are not replies.
class LineListener {
 public:
  virtual ~LineListener() = default;
  virtual void OnData(std::string_view line) = 0;
  virtual void OnComment(const std::string& text) = 0;
  virtual void OnAbort(const std::string& reason) = 0;
  // Diagnostics, and replies that came when none was awaited.
  virtual void OnOther(std::string_view line) = 0;
};

struct Reply {
  LineKind kind = LineKind::Other;  // Other: no reply came in time
  std::string text;                 // LineText of the reply line

  bool TimedOut() const { return kind == LineKind::Other; }
};

class Session {
 public:
  Session(Port& port, LineListener& listener) : mPort(port), mListener(listener) {}

  // Sends `command` and waits up to `timeoutMs` for its reply.
  Reply Exchange(std::string_view command, int timeoutMs);

  // The control list: "?in/controllist", answered with "=" and the list's
  // first line, its further lines following at once. Collects the lines
  // until the port has been quiet for `quietMs`; lines that cannot belong
  // to the list (data, comments, aborts) go to the listener. Empty if no
  // answer came within `timeoutMs`.
  std::optional<std::string> ReadControlList(int timeoutMs, int quietMs);

  // Handles the next line, waiting up to `timeoutMs`; false if none came.
  bool Pump(int timeoutMs);

 private:
  void Dispatch(LineKind kind, const std::string& line);

  Port& mPort;
  LineListener& mListener;
};

}  // namespace corvane::recorder
