// A read whose short wait ends before the read does is cancelled and waited
// for: nothing it would have received lands in the caller's buffer later.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "serial/com_port.h"
#include "serial/com_port_testing.h"
#include "serial_line.h"

namespace corvane {
namespace {

TEST(COMPortWin32, AbandonedReadIsOverBeforeReadReturns) {
  std::string why;
  auto line = testing::SerialLine::Make(1, why);
  ASSERT_TRUE(line) << why;
  COMPort port;
  ASSERT_TRUE(port.Open(line->Path(), 115200));
  ASSERT_TRUE(COMPortTesting::MakeReadsWaitForFullCapacity(port));

  std::array<uint8_t, 64> buffer;
  buffer.fill(0xAA);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buffer.data(), buffer.size()), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  // The caller reuses its buffer; bytes arriving now must not reach it, nor
  // may closing the port complete anything into it.
  buffer.fill(0x55);
  ASSERT_TRUE(line->FarWrite(std::string(100, 'x')));
  Sleep(100);
  port.Close();
  Sleep(50);
  for (const uint8_t byte : buffer) ASSERT_EQ(byte, 0x55);
}

}  // namespace
}  // namespace corvane
