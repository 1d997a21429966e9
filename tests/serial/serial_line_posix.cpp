#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>

#include "serial_line.h"
#include "support/utf8.h"

namespace corvane::testing {
namespace {

class PtyLine final : public SerialLine {
 public:
  explicit PtyLine(int master) : mMaster(master) {}
  ~PtyLine() override { ::close(mMaster); }

  MVX::MVXString Path() const override { return MVX::Utf8ToWide(::ptsname(mMaster)); }

  bool FarWrite(const std::string& bytes) override {
    return ::write(mMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  std::string FarRead(size_t count, uint32_t timeoutMs) override {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{mMaster, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[4096];
      const ssize_t n = ::read(mMaster, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int mMaster;  // the pseudo-terminal's master side
};

}  // namespace

bool RunsUnderWine() { return false; }

MVX::MVXString MissingPortPath() { return L"/dev/corvane-no-such-port"; }

std::unique_ptr<SerialLine> SerialLine::Make(int /*number*/, std::string& why) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    why = "no pseudo-terminal";
    if (master >= 0) ::close(master);
    return nullptr;
  }
  return std::make_unique<PtyLine>(master);
}

}  // namespace corvane::testing
