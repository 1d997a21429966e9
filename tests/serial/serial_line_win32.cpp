#include <windows.h>

#include <chrono>
#include <string>

#include "serial/com_port.h"
#include "serial_line.h"

namespace corvane::testing {
namespace {

// The ports the null-modem helper joins back to back (see CMakeLists.txt):
// line n is COM(21 + 2n) for the port under test and COM(22 + 2n) for the
// far end.
constexpr int kFirstPort = 21;

MVX::MVXString ComPath(int number) { return L"\\\\.\\COM" + std::to_wstring(number); }

class NullModemLine final : public SerialLine {
 public:
  explicit NullModemLine(int number) : mNumber(number) {}
  bool OpenFarEnd() { return mFar.Open(ComPath(mNumber + 1), 115200); }

  MVX::MVXString Path() const override { return ComPath(mNumber); }

  bool FarWrite(const std::string& bytes) override {
    return mFar.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000);
  }

  std::string FarRead(size_t count, uint32_t timeoutMs) override {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      uint8_t chunk[4096];
      const size_t n = mFar.Read(chunk, std::min(sizeof chunk, count - got.size()));
      got.append(reinterpret_cast<const char*>(chunk), n);
      if (n == 0) Sleep(1);
    }
    return got;
  }

 private:
  int mNumber;   // the port under test's number
  COMPort mFar;  // the far end, a port of its own
};

}  // namespace

MVX::MVXString MissingPortPath() { return L"\\\\.\\COM239"; }

bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<SerialLine> SerialLine::Make(int number, std::string& why) {
  auto line = std::make_unique<NullModemLine>(kFirstPort + 2 * number);
  if (!line->OpenFarEnd()) {
    why = "the far end " + std::to_string(kFirstPort + 2 * number + 1) +
          " does not open: is the null-modem helper running?";
    return nullptr;
  }
  return line;
}

}  // namespace corvane::testing
