// Progress windows of the host, reached from the layers below it.
//
// The host layer registers its progress service here at attach (as it does
// with the module log's sink), so that a long task far down, such as the
// wrist unit's firmware update, can show how far it has got without knowing
// the host framework.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace MVX {

// One open window. Destroying it closes and releases the window.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  // 0 to 100.
  virtual void SetProgress(int32_t percent) = 0;
  virtual void SetText(std::wstring_view text) = 0;
};

// Opens progress windows; the host layer implements it.
class ProgressWindows {
 public:
  virtual ~ProgressWindows() = default;
  // Null when the host made no window; the task then runs without one.
  virtual std::unique_ptr<ProgressWindow> Open(std::wstring_view title, std::wstring_view text) = 0;
};

// Sets the host's service (null for none). The service must outlive its use.
void SetHostProgressWindows(ProgressWindows* windows);
// The registered service, or null.
ProgressWindows* HostProgressWindows();

}  // namespace MVX
