// The listing's rules that both platforms share: the serial segment of a
// device identifier, and which serial segments belong to other instruments.
#include <gtest/gtest.h>

#include <string>

#include "serial/port_listing.h"
#include "support/utf8.h"

namespace corvane {
namespace {

TEST(PortListing, SerialSegmentOfAnIdentifierAndTheMarkerRule) {
  struct Case {
    std::wstring identifier;
    std::wstring segment;  // after the cut at "+"
    bool otherInstrument;
  };
  const Case cases[] = {
      {L"FTDIBUS\\VID_0403+PID_6001+A1B2C3\\0000", L"A1B2C3", false},
      {L"FTDIBUS\\VID_0403+PID_6001+0042CVLAB7\\0000", L"0042CVLAB7", true},
      {L"FTDIBUS\\VID_0403+PID_6001+CVAMB\\0000", L"CVAMB", true},
      {L"FTDIBUS\\VID_0403+PID_6001+X-CVREF\\0000", L"X-CVREF", true},
      {L"FTDIBUS\\VID_0403+PID_6001+CVSVC1\\0000", L"CVSVC1", true},
      // The marker must appear whole and in capitals.
      {L"FTDIBUS\\VID_0403+PID_6001+CVLA\\0000", L"CVLA", false},
      {L"FTDIBUS\\VID_0403+PID_6001+cvlab\\0000", L"cvlab", false},
      // No "+": judged by what precedes the first backslash.
      {L"ACPI\\PNP0501\\1", L"ACPI", false},
      {L"CVREFBUS\\PORT\\1", L"CVREFBUS", true},
      // A marker elsewhere in the identifier does not count.
      {L"CVLAB\\VID_0403+PID_6001+A1B2C3\\0000", L"A1B2C3", false},
      {L"USB\\VID_2341+PID_0043+", L"", false},
      {L"", L"", false},
  };
  for (const Case& c : cases) {
    std::wstring segment = c.identifier;
    CutIdentifier(segment, L'+');
    EXPECT_EQ(segment, c.segment) << MVX::WideToUtf8(c.identifier);
    EXPECT_EQ(IsOtherInstrumentSerial(segment), c.otherInstrument) << MVX::WideToUtf8(c.identifier);
  }
}

}  // namespace
}  // namespace corvane
