#include "nano/finapres_nano_driver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "nano/firmware_update.h"
#include "platform/time.h"
#include "support/debug_trace.h"
#include "support/module_log.h"
#include "support/progress_window.h"

namespace corvane {
namespace {

constexpr int64_t kLinkPeriodMs = 1000;
constexpr int64_t kKeepAliveDueMs = 500;
constexpr int64_t kPollBudgetMs = 3;
constexpr uint32_t kZeroHcuPauseMs = 500;
constexpr int64_t kModeSettleMs = 500;
constexpr int64_t kClearErrorPeriodMs = 1000;
constexpr int32_t kPhysioCalOffBeats = 4;
constexpr int32_t kStampWrap = 30000;
constexpr int32_t kCounterRange = 65536;
constexpr int32_t kDemoState = kModeTestSimulate;
constexpr uint16_t kExtra2 = 200;
constexpr uint32_t kWarningFlag = 0x80000000u;
constexpr double kMinFrequency = 1.0;
constexpr double kMaxFrequency = 100.0;
constexpr uint16_t kMaxTestPressure = 350;
constexpr double kPi = std::numbers::pi;

std::wstring Letter(char letter) { return std::wstring(1, static_cast<wchar_t>(letter)); }

void Log(const std::wstring& line) { MVX::ModuleLog::Write(line); }

void SetLow16(int32_t& field, uint32_t value) {
  field = static_cast<int32_t>((static_cast<uint32_t>(field) & 0xFFFF0000u) | (value & 0xFFFFu));
}

// Copies `text` with its zero if it fits in *length bytes, else an empty
// string; *length becomes the length of what the buffer now holds.
int32_t CopyText(const std::string& text, char* buffer, uint16_t* length) {
  if (buffer == nullptr) {
    if (length != nullptr) *length = 0;
    return dmsError_NoError;
  }
  if (length == nullptr) return dmsError_NullPointer;
  if (text.size() + 1 <= *length) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<uint16_t>(text.size());
  } else {
    if (*length > 0) buffer[0] = '\0';
    *length = 0;
  }
  return dmsError_NoError;
}

// Whether the receive buffer holds bytes that a read without waiting can get
// further with: a read over noise skips a single byte, so Poll goes on
// through noise to the frames behind it. A frame still arriving waits for
// the next pass.
bool MoreToScan(const ReceiveBuffer& buffer) {
  const auto& b = buffer.mBytes;
  if (buffer.mFill < kFrameOverhead) return false;
  const bool header = b[0] == kFrameMarker && b[1] != 0 && b[2] == b[1] && b[3] == kFrameMarker;
  return !header || buffer.mFill >= b[1] + 5u;
}

}  // namespace

FinapresNanoDriver::FinapresNanoDriver(const std::vector<MVX::MVXString>& ports,
                                       const LinkClock& clock)
    : mClock(clock),
      mKeepAliveTimer(kLinkPeriodMs, clock),
      mLinkTimer(kLinkPeriodMs, clock),
      mHangUpRetryTimer(kHangUpRetryMs, clock),
      mClearErrorTimer(kClearErrorPeriodMs, clock),
      mReceive([this](uint8_t* buffer, size_t capacity) { return mPort.Read(buffer, capacity); }) {
  SearchPorts(ports);
  mStatus.mBusy = 0;
  mStatus.mError = 0;
  mStatus.mWarning = 0;
  mConnectStatus = mPort.IsOpen() ? dmsError_Online : dmsError_Disconnected;
}

// ---- search --------------------------------------------------------------

// The firmware update's view of the link.
class DriverUpdateLink final : public UpdateLink {
 public:
  explicit DriverUpdateLink(FinapresNanoDriver& driver) : mDriver(driver) {}
  bool SendAndWait(NanoMessage& message, uint32_t timeoutMs) override {
    return mDriver.SendAndWait(message, timeoutMs);
  }
  std::optional<nano::ModeFrame> QueryMode(uint32_t timeoutMs) override {
    if (!mDriver.QueryMode(timeoutMs, nullptr)) return std::nullopt;
    return mDriver.mMode;
  }
  void StartMeasurement(uint8_t subCommand) override { mDriver.StartMeasurement(subCommand); }

 private:
  FinapresNanoDriver& mDriver;
};

bool FinapresNanoDriver::SearchPorts(const std::vector<MVX::MVXString>& ports) {
  for (const MVX::MVXString& port : ports) {
    if (ProbePort(port)) return true;
    mPort.Close();
  }
  return false;
}

bool FinapresNanoDriver::ProbePort(const MVX::MVXString& port) {
  if (!mPort.Open(port, kBaudRate)) return false;
  MVX_TRACE(MVX::kUnitNanoDriver, L" looking for Vive Zore on " + port);
  Log(L"Nano Driver: Looking for Vive Zore on " + port);
  // Each port's unit is judged by the records it sends itself, never by those
  // of a unit on a port tried before.
  mBootloaderRecord.fill(0);
  mHardwareRecord.fill(0);
  mFirmwareRecord.fill(0);
  mPortLost = false;
  Poll();
  NanoMessage reply = nano::MakeVersionRequest(nano::kVersionFirmware);
  if (!SendAndWait(reply, kReplyTimeoutMs)) return false;
  // A line that echoes what it is sent answers with the request itself: only
  // a reply that carries a version record comes from a unit.
  const nano::VersionFrame version = nano::DecodeVersion(reply);
  if (!IsVersionRecord(version.structure)) {
    Log(L"Nano Driver: no Vive Zore on " + port +
        L": the reply to the version request holds no version record");
    return false;
  }
  // A unit that waits in its bootloader, or that an installed image calls
  // for, is updated before it is used; one that cannot be is not kept.
  DriverUpdateLink link(*this);
  FirmwareUpdate update(link, mClock, MVX::HostProgressWindows());
  FirmwareImage image;
  return update.CheckUnit(image, UnitOf(version));
}

bool FinapresNanoDriver::IsVersionRecord(char structure) {
  return structure == 'N' || structure == 'B' || structure == 'I' || structure == 'O';
}

UnitFirmware FinapresNanoDriver::UnitOf(const nano::VersionFrame& version) {
  // Bootloader records carry the hardware where the firmware's does; a
  // record of zeros names hardware 0. Only the firmware's record tells the
  // program's version: a unit that sent another is taken as running 0.0.0.0.
  const nano::VersionNumbers v = nano::DecodeVersionNumbers(version.record.data());
  UnitFirmware unit{v.hardwareId, {}};
  if (version.structure == 'N') unit.version = {v.major, v.minor, v.patch, v.revision};
  return unit;
}

// ---- link ----------------------------------------------------------------

bool FinapresNanoDriver::SendAndWait(NanoMessage& request, uint32_t timeoutMs) {
  std::lock_guard lock(mMutex);
  RecoverFromHangUp();
  const int64_t deadline = mClock.NowMs() + timeoutMs;
  const char letter = request.Letter();
  if (LeavesTraceLine(request)) Log(FormatMessageTrace(L"<<<", request));

  int failures = 0;
  for (;;) {
    const int64_t left = std::max<int64_t>(0, deadline - mClock.NowMs());
    if (mPort.Write(request.Frame(), request.FrameSize(), static_cast<uint32_t>(left))) break;
    MVX_TRACE(MVX::kUnitNanoDriver, L"Send failed.");
    // While the port stays away the attempts go on; the log tells it once.
    if (!mPortLost) Log(L"!!! Nano driver: Failed to send '" + Letter(letter) + L"' message");
    if (++failures >= 2) return false;
    if (!Reconnect()) {
      // Keep trying from Poll while a unit that was found is away.
      mHungUp = mConnectStatus == dmsError_Online;
      return false;
    }
  }

  for (;;) {
    const int64_t left = deadline - mClock.NowMs();
    if (left <= 0) {
      MVX_TRACE(MVX::kUnitNanoDriver, L" no reply to '" + Letter(letter) + L"'");
      Log(L"!!! Nano driver: no reply to '" + Letter(letter) + L"' message");
      return false;
    }
    NanoMessage reply;
    if (!ReadMessage(mReceive, reply, static_cast<uint32_t>(left), mClock)) continue;
    HandleMessage(reply);
    if (reply.IsNack()) {
      request = reply;
      return false;
    }
    if (reply.Letter() == letter) {
      request = reply;
      return true;
    }
  }
}

bool FinapresNanoDriver::Exchange(NanoMessage request, uint32_t timeoutMs) {
  return SendAndWait(request, timeoutMs);
}

bool FinapresNanoDriver::Poll() {
  std::lock_guard lock(mMutex);
  RecoverFromHangUp();
  const int64_t budgetEnd = mClock.NowMs() + kPollBudgetMs;
  bool handled = false;
  NanoMessage message;
  for (;;) {
    if (ReadMessage(mReceive, message, 0, mClock)) {
      HandleMessage(message);
      handled = true;
    } else if (!MoreToScan(mReceive)) {
      break;
    }
    if (mClock.NowMs() >= budgetEnd) break;
  }
  if (mDriverState == kModeMeasure && mKeepAliveTimer.Remaining() < kKeepAliveDueMs) {
    Exchange(nano::MakeKeepAlive());
    mKeepAliveTimer.Advance();
  }
  while (!mOutgoing.empty()) {
    NanoMessage queued = mOutgoing.front();
    mOutgoing.pop_front();
    SendAndWait(queued, kReplyTimeoutMs);
  }
  return handled;
}

void FinapresNanoDriver::RecoverFromHangUp() {
  // A hung-up line delivers nothing ever again: re-open it by name, as after
  // a failed write, and while the device is away (an adapter being plugged
  // in again) keep trying, so that the samples resume as soon as it is back.
  // Bytes the line delivered before are already in the receive buffer.
  if (mPort.HasFailed()) {
    mHungUp = true;
  } else if (!mHungUp || mPort.IsOpen() || !mHangUpRetryTimer.Elapsed()) {
    if (mPort.IsOpen()) mHungUp = false;
    return;
  }
  mHangUpRetryTimer.Restart();
  if (Reconnect()) mHungUp = false;
}

bool FinapresNanoDriver::Reconnect() {
  MVX_TRACE(MVX::kUnitNanoDriver, L"!!! trying port reconnect");
  if (!mPortLost) Log(L"!!! Nano Driver trying port reconnect");
  // Attempts repeat while the device is away, logged once; hosts count the
  // reopenings.
  const bool reopened = mPort.Open(mPort.PortName(), static_cast<int32_t>(mPort.BaudRate()));
  mPortLost = !reopened;
  if (reopened) Log(L"!!! Nano Driver port reconnected");
  return reopened;
}

void FinapresNanoDriver::HandleMessage(const NanoMessage& message) {
  if (!message.IsValid()) return;
  mLinkTimer.Restart();
  if (LeavesTraceLine(message)) Log(FormatMessageTrace(L">>>", message));
  if (message.IsNack()) return;
  const char letter = message.Letter();
  if (letter != 'a' && letter != 'b' && letter != 'd' && letter != 's') {
    MVX_TRACE(MVX::kUnitNanoDriver, L"  -- handling '" + Letter(letter) + L"'");
  }
  switch (message.Type()) {
    case nano::kStatus:
      HandleStatus(message);
      break;
    case nano::kData:
      HandleData(message);
      break;
    case nano::kBeat:
      HandleBeat(message);
      break;
    case nano::kCuff: {
      const uint8_t cuff = message.PayloadLength() > 0 ? message.Payload()[0] : 0;
      if (cuff == 1) mCuff = kCuff1;
      if (cuff == 2) mCuff = kCuff2;
      break;
    }
    case nano::kPhysioCal: {
      const bool on = message.PayloadLength() > 0 && message.Payload()[0] != 0;
      MVX_TRACE(MVX::kUnitNanoDriver, on ? L"   physiocal is On" : L"   physiocal is Off");
      break;
    }
    case nano::kMode:
      mMode = nano::DecodeMode(message);
      break;
    case nano::kVersion:
      HandleVersion(message);
      break;
    default:
      break;
  }
}

void FinapresNanoDriver::HandleStatus(const NanoMessage& message) {
  mLastStatus = nano::DecodeStatus(message);
  if (mDriverState != kDemoState) {
    switch (mLastStatus.StateNibble()) {
      case 0:
        mDriverState = 1;
        break;
      case nano::kDeviceStateNotMeasuring:
        mDriverState = kModeIdle;
        break;
      case nano::kDeviceStateMeasuring:
        mDriverState = kModeMeasure;
        break;
      case nano::kDeviceStateTest:
        mDriverState = kModeTestSteady;
        break;
      default:
        break;
    }
  }
  mStatus.mBusy = mLastStatus.state & 1;
  mStatus.mMode = mDriverState;

  const uint32_t warning = mLastStatus.mWarning;
  if (warning == 0) {
    mStatus.mWarning = 0;
  } else {
    MVX::OStringStream hex;
    hex << std::hex << warning;
    MVX_TRACE(MVX::kUnitNanoDriver, L"  ??? mLastStatus.mWarning 0x" + hex.str());
    Log(L"!!! Nano driver: mLastStatus.mWarning 0x" + hex.str());
    mStatus.mWarning = static_cast<int32_t>(warning | kWarningFlag);
    if (mLastStatus.mError == 0 && (warning & nano::kPulseWarningMask) != 0) {
      mLastStatus.mError = nano::kNoPulseError;
    }
  }
  // Gone: the next error is news again, to log and to clear at once.
  if (mLastStatus.mError == 0) mStandingError = 0;
  if (mLastStatus.mError != 0) {
    const std::wstring error = std::to_wstring(mLastStatus.mError);
    MVX_TRACE(MVX::kUnitNanoDriver, L"  !!! mLastStatus.mError: " + error);
    Log(L"  !!! Nano Driver: mLastStatus.mError: " + error);
  }

  SetLow16(mStatus.mChannel8, mLastStatus.channel8 & 0x03u);
  const uint8_t code = static_cast<uint8_t>(mLastStatus.extra >> 6);
  mStatus.mExtra1 = code <= 1 ? 0 : code - 1;
  mStatus.mChannel10 = mLastStatus.extra & 0x0F;
  SetLow16(mStatus.mChannel11, mLastStatus.channel11);
  const int32_t hcu = mLastStatus.hcu >> 5;
  if (hcu <= 3) {
    mStatus.mHCUStatus = hcu;
  } else if (hcu == 4) {
    mStatus.mHCUStatus = -2;
    mStatus.mBusy = 1;
  }
  SetLow16(mStatus.mExtra2, kExtra2);

  HeightAndStatusSample sample{};
  sample.mTime = SampleStamp(mLastStatus.counter);
  sample.mHeight = static_cast<int16_t>(mLastData.hgt / 10.0 + 0.5);
  sample.mStatus = mStatus;
  mHeightRing.Append(sample);
}

void FinapresNanoDriver::HandleData(const NanoMessage& message) {
  const uint16_t previous = mLastData.counter;
  const auto expected = static_cast<uint16_t>(previous + 1);
  mLastData = nano::DecodeData(message);
  // The counter moves on with every sample, so a frame with the counter of the
  // one before is that sample again: storing it would put one value twice
  // into the host's pressure channel and shift it against the other channels.
  const bool repeated = mDataSeen && mLastData.counter == previous;
  if (mDataSeen && mLastData.counter != expected) {
    MVX::OStringStream line;
    line << L"!!! Nano Driver: Data sample counter sequence error. Expected " << expected << L" (0x"
         << std::hex << expected << std::dec << L"), got " << mLastData.counter << L" (0x"
         << std::hex << mLastData.counter << L")";
    Log(line.str());
  }
  if (repeated) return;
  mDataSeen = true;
  if (mDriverState == kDemoState) DemonstrationStep();
  PressureSample sample{};
  sample.mTime = SampleStamp(mLastData.counter);
  sample.mPressure = static_cast<uint16_t>(mLastData.bp / 10);
  mPressureRing.Append(sample);
}

void FinapresNanoDriver::HandleBeat(const NanoMessage& message) {
  if (mDriverState == kDemoState) return;
  const nano::BeatFrame beat = nano::DecodeBeat(message);
  BeatToBeatSample sample{};
  sample.mTime = SampleStamp(beat.counter);
  sample.mSystolic = static_cast<uint16_t>(beat.sys / 10);
  sample.mMean = static_cast<uint16_t>(beat.map / 10);
  sample.mDiastolic = static_cast<uint16_t>(beat.dia / 10);
  sample.mHeartRate = static_cast<uint16_t>(beat.hr / 10);
  sample.mInterbeatInterval = beat.ibi;
  mBeatRing.Append(sample);
  if (mPhysioCalOffCountdown != 0 && mPhysioCal != 1 && beat.ibi != 0) {
    if (--mPhysioCalOffCountdown == 0) {
      mOutgoing.push_back(nano::MakePhysioCal(0));
      MVX_TRACE(MVX::kUnitNanoDriver, L"Queued physiocal off ('h') command");
    }
  }
}

void FinapresNanoDriver::HandleVersion(const NanoMessage& message) {
  const nano::VersionFrame version = nano::DecodeVersion(message);
  MVX::OStringStream trace;
  trace << L"  -- version: type " << version.typeNumber << L", struc type "
        << static_cast<wchar_t>(version.structure);
  MVX_TRACE(MVX::kUnitNanoDriver, trace.str());
  switch (version.structure) {
    case 'B':
    case 'I':
    case 'O': {
      std::copy_n(version.record.begin(), mBootloaderRecord.size(), mBootloaderRecord.begin());
      const nano::VersionNumbers v = nano::DecodeVersionNumbers(mBootloaderRecord.data());
      MVX::OStringStream line;
      line << L" FinapresNanoDriver: Bootloader version is V" << v.major << L'.' << v.minor << L'.'
           << v.patch << L'.' << v.revision << L", protocol v" << v.protocol;
      Log(line.str());
      break;
    }
    case 'H':
      mHardwareRecord = version.record;
      break;
    case 'N':
      std::copy_n(version.record.begin(), mFirmwareRecord.size(), mFirmwareRecord.begin());
      break;
    default:
      break;
  }
}

uint64_t FinapresNanoDriver::SampleStamp(uint16_t counter) {
  if (mFirstStamp) {
    mStampBase = platform::SystemTimeAsFileTime();
    mStampCounter = counter;
    mFirstStamp = false;
    return mStampBase;
  }
  int32_t d = static_cast<int32_t>(counter) - static_cast<int32_t>(mStampCounter);
  if (d < -kStampWrap) d += kCounterRange;
  if (d > kStampWrap) d -= kCounterRange;
  if (d < 0) {
    return mStampBase - static_cast<uint64_t>(-d) * kSamplePeriodTicks;
  }
  mStampBase += static_cast<uint64_t>(d) * kSamplePeriodTicks;
  mStampCounter = counter;
  return mStampBase;
}

// ---- demonstration --------------------------------------------------------

void FinapresNanoDriver::StartDemonstration() {
  auto random = [] { return static_cast<double>(std::rand() % 32768); };
  mDemo.heightWalk = 0;
  mDemo.slowPhase = 0;
  mDemo.beatPhase = 0;
  mDemo.basePressure = 100 + (random() * 10 / 32767 - 5);
  mDemo.systolic = static_cast<int32_t>(mDemo.basePressure);
  mDemo.diastolic = static_cast<int32_t>(mDemo.basePressure);
  mDriverState = kDemoState;
  // The start emptied the rings before the mode was set; what came in since
  // carries the unit's own pressure and has no place in a demonstration.
  mPressureRing.Clear();
  mHeightRing.Clear();
  mBeatRing.Clear();
  mDemo.baseHeartRate = 60 + (random() * 10 / 32767 - 5);
}

void FinapresNanoDriver::DemonstrationStep() {
  const double r = static_cast<double>(std::rand() % 32768);
  mDemo.heightWalk += r * 0.1 / 32767 - 0.05;
  // The data field is unsigned: a walk below zero reads as zero height.
  mLastData.hgt = static_cast<uint16_t>(std::max(0, static_cast<int32_t>(mDemo.heightWalk)));
  mDemo.slowPhase += 0.00026179938779914946;
  if (mDemo.slowPhase > kPi) mDemo.slowPhase -= 2 * kPi;
  const double heartRate = 5 * std::sin(mDemo.slowPhase) + mDemo.baseHeartRate;
  mDemo.beatPhase += heartRate / 60 / 200 * 2 * kPi;
  if (mDemo.beatPhase > kPi) {
    mDemo.beatPhase -= 2 * kPi;
    BeatToBeatSample beat{};
    beat.mTime = SampleStamp(mLastData.counter);
    beat.mSystolic = static_cast<uint16_t>(mDemo.systolic);
    beat.mDiastolic = static_cast<uint16_t>(mDemo.diastolic);
    beat.mMean = static_cast<uint16_t>((mDemo.systolic + mDemo.diastolic) / 2);
    beat.mHeartRate = static_cast<uint16_t>(heartRate);
    beat.mInterbeatInterval = static_cast<uint16_t>(1000 / heartRate * 60);
    mBeatRing.Append(beat);
    mDemo.systolic = static_cast<int32_t>(mDemo.basePressure);
  }
  const double amplitude = 2.5 * std::sin(mDemo.slowPhase) + 40;
  const double phi = mDemo.beatPhase;
  const double p = (5 * std::sin(mDemo.slowPhase) + mDemo.basePressure) -
                   std::sin(phi) * (amplitude * 0.6366) + std::sin(2 * phi) * (amplitude * 0.3183) -
                   amplitude * 0.2122 * std::sin(3 * phi) + amplitude * 0.1592 * std::sin(4 * phi);
  if (p > mDemo.systolic) mDemo.systolic = static_cast<int32_t>(p);
  if (p < mDemo.diastolic) mDemo.diastolic = static_cast<int32_t>(p);
  mLastData.bp = static_cast<uint16_t>(std::max(0.0, (p + mDemo.heightWalk) * 10));
}

// ---- device API ------------------------------------------------------------

int32_t FinapresNanoDriver::DMS_Connect() {
  if (!mPort.IsOpen()) return dmsError_NoCommunication;
  Poll();
  mLastStatus.state = 0;
  if (!Exchange(nano::MakeVersionRequest(nano::kVersionFirmware))) return dmsError_Disconnected;
  if (!Exchange(nano::MakeStatusRequest())) return dmsError_Disconnected;
  switch (mLastStatus.StateNibble()) {
    case nano::kDeviceStateNotMeasuring:
      return dmsError_NoError;
    case nano::kDeviceStateMeasuring:
      return StartMeasurement(nano::kEventStopMeasurement);
    case nano::kDeviceStateTest:
      return StartMeasurement(nano::kEventLeaveTest);
    default:
      DMS_ClearError();
      return dmsError_Disconnected;
  }
}

int32_t FinapresNanoDriver::DMS_Disconnect() {
  if (mLastStatus.StateNibble() != nano::kDeviceStateMeasuring) return dmsError_NoError;
  Poll();
  return Exchange(nano::MakeEvent(nano::kEventStopMeasurement)) ? dmsError_NoError
                                                                : dmsError_NoCommunication;
}

int32_t FinapresNanoDriver::DMS_GetSerialNr(char* text, uint16_t* length) {
  Poll();
  if (!Exchange(nano::MakeVersionRequest(nano::kVersionFirst))) return dmsError_NoCommunication;
  if (!Exchange(nano::MakeVersionRequest(nano::kVersionHardware))) {
    return dmsError_NoCommunication;
  }
  return CopyText(nano::SerialNumberOf(mHardwareRecord), text, length);
}

int32_t FinapresNanoDriver::DMS_GetVersion(int32_t which, char* text, uint16_t* length) {
  if (which != 0) return dmsError_OutOfRange;
  const nano::VersionNumbers v = nano::DecodeVersionNumbers(mFirmwareRecord.data());
  const std::string version = "MVX Nano driver v1.0 - Nano firmware v" + std::to_string(v.major) +
                              "." + std::to_string(v.minor) + "." + std::to_string(v.patch) + "." +
                              std::to_string(v.revision) + ", protocol v" +
                              std::to_string(v.protocol);
  return CopyText(version, text, length);
}

int32_t FinapresNanoDriver::DMS_GetStatus(DMSStatus* status) {
  Poll();
  if (mLinkTimer.Remaining() <= 0) mStatus.mError = kLinkSilenceError;
  if (status == nullptr) return dmsError_NullPointer;
  *status = mStatus;
  mStatus.mError = 0;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_ClearError() {
  Poll();
  const uint8_t error = mLastStatus.mError;
  if (error == 0) return dmsError_NoError;
  const bool standing = error == mStandingError;
  if (error < nano::kPermanentErrorFlag && mStatus.mError == 0) {
    mStatus.mError = kDeviceErrorBase + error;
    if (!standing) {
      Log(L"!!! FinapresNanoDriver::DMS_ClearError() error " + std::to_wstring(mStatus.mError));
    }
  }
  mLastStatus.mError = 0;
  // The engine asks at every pass. An error whose cause stays is asked to
  // clear once a second, not at every pass: that would flood the link and
  // the log for as long as it stands, and would not clear it any sooner.
  if (standing && !mClearErrorTimer.Elapsed()) return dmsError_NoError;
  mStandingError = error;
  mClearErrorTimer.Restart();
  Poll();
  Exchange(nano::MakeEvent(nano::kEventClearError));
  if ((mLastStatus.mError & nano::kPermanentErrorFlag) != 0) return dmsError_NoError;
  Exchange(nano::MakeStatusRequest());
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::StartMeasurement(uint8_t subCommand) {
  if (subCommand == nano::kEventStartMeasurement) mPhysioCalOffCountdown = kPhysioCalOffBeats;
  Poll();
  return Exchange(nano::MakeEvent(subCommand)) ? dmsError_NoError : dmsError_NoCommunication;
}

bool FinapresNanoDriver::QueryMode(uint32_t timeoutMs, int32_t* mode) {
  Poll();
  if (!Exchange(nano::MakeModeQuery(), timeoutMs)) return false;
  if (mode != nullptr) *mode = mMode.mode;
  return true;
}

int32_t FinapresNanoDriver::StopTest() {
  if (mDriverState == kDemoState) {
    mDriverState = kModeIdle;
    return dmsError_NoError;
  }
  Poll();
  if (!Exchange(nano::MakeTestStop())) return dmsError_NoCommunication;
  return StartMeasurement(nano::kEventLeaveTest);
}

int32_t FinapresNanoDriver::StartTest(uint8_t testType, uint32_t cuffSelector, uint32_t pressure,
                                      uint32_t periodMs) {
  Poll();
  if (!Exchange(nano::MakeEvent(nano::kEventEnterTest))) return dmsError_NoCommunication;
  Poll();
  return Exchange(nano::MakeTestStart(testType, cuffSelector, pressure, periodMs))
             ? dmsError_NoError
             : dmsError_NoCommunication;
}

int32_t FinapresNanoDriver::DMS_SetMode(int32_t mode) {
  Poll();
  // Any other mode ends a demonstration first, as StopTest would: otherwise
  // the generator would go on overwriting the unit's real pressures.
  if (mDriverState == kDemoState && mode != kDemoState) mDriverState = kModeIdle;
  int32_t current = 0;
  if (!QueryMode(kReplyTimeoutMs, &current)) return dmsError_NoCommunication;
  if ((mode == kModeIdle && current == nano::kDeviceStateNotMeasuring) ||
      (mode == kModeMeasure && current == nano::kDeviceStateMeasuring)) {
    return dmsError_NoError;
  }
  if (current == nano::kDeviceStateMeasuring) StartMeasurement(nano::kEventStopMeasurement);
  if (current == nano::kDeviceStateTest) StopTest();

  // A unit that refuses to enter the mode (a Nack, or no reply) fails the
  // change: the wait below would otherwise run out and answer success.
  int32_t entered = dmsError_NoError;
  switch (mode) {
    case kModeIdle:
      break;
    case kModeMeasure:
      mKeepAliveTimer.Restart();
      entered = StartMeasurement(nano::kEventStartMeasurement);
      break;
    case kModeTestSteady:
      entered = StartTest(nano::kTestSteady, CuffSelector(), mSteadyPressure, 0);
      break;
    case kModeTestSquare:
      mSquareFrequency = std::clamp(mSquareFrequency, kMinFrequency, kMaxFrequency);
      entered = StartTest(nano::kTestSquare, CuffSelector(), mSquarePressure,
                          nano::SquareWavePeriodMs(mSquareFrequency));
      break;
    case kDemoState:
      StartDemonstration();
      break;
    default:
      return dmsError_NotAllowed;
  }
  if (entered != dmsError_NoError) return entered;

  Poll();
  const int64_t start = mClock.NowMs();
  for (;;) {
    if (mClock.NowMs() - start >= kModeSettleMs) return dmsError_NoError;
    if (!Exchange(nano::MakeStatusRequest())) return dmsError_NoCommunication;
    if (mDriverState == mode) return dmsError_NoError;
  }
}

int32_t FinapresNanoDriver::DMS_GetTestSteadyPressure(uint16_t* mmHg) {
  if (mmHg != nullptr) *mmHg = mSteadyPressure;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_SetTestSteadyPressure(uint16_t mmHg) {
  if (mmHg > kMaxTestPressure) return dmsError_OutOfRange;
  mSteadyPressure = mmHg;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_GetTestSquarePressure(uint16_t* mmHg) {
  if (mmHg != nullptr) *mmHg = mSquarePressure;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_SetTestSquarePressure(uint16_t mmHg) {
  if (mmHg > kMaxTestPressure) return dmsError_OutOfRange;
  mSquarePressure = mmHg;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_GetTestSquareFrequency(double* hertz) {
  if (hertz != nullptr) *hertz = mSquareFrequency;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_SetTestSquareFrequency(double hertz) {
  if (!(hertz >= kMinFrequency && hertz <= kMaxFrequency)) return dmsError_OutOfRange;
  mSquareFrequency = hertz;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_ZeroHCU() {
  Poll();
  Exchange(nano::MakeZeroHcu());
  mClock.SleepMs(kZeroHcuPauseMs);
  Exchange(nano::MakeZeroHcu());
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_GetCuffSwitching(int32_t* cuff) {
  if (cuff != nullptr) *cuff = mCuff;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_SetCuffSwitching(int32_t cuff) {
  if (cuff == mCuff) return dmsError_NoError;
  Poll();
  const bool wasMeasuring = mDriverState == kModeMeasure;
  if (wasMeasuring) DMS_SetMode(kModeIdle);
  if (!Exchange(nano::MakeCuffSelect(cuff))) return dmsError_NoCommunication;
  mCuff = cuff;
  if (wasMeasuring) DMS_SetMode(kModeMeasure);
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_GetPhysioCal(int32_t* on) {
  if (on != nullptr) *on = mPhysioCal;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::DMS_SetPhysioCal(int32_t on) {
  Poll();
  if (!Exchange(nano::MakePhysioCal(static_cast<uint8_t>(on)))) return dmsError_NoCommunication;
  mPhysioCal = on;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::GetContinueAfterError(int32_t* flag) {
  if (flag != nullptr) *flag = mContinueAfterError;
  return dmsError_NoError;
}

int32_t FinapresNanoDriver::SetContinueAfterError(int32_t flag) {
  mContinueAfterError = flag;
  return dmsError_NoError;
}

template <typename Record>
int32_t FinapresNanoDriver::Fetch(SampleRing<Record>& ring, uint16_t* count, Record* records) {
  if (records == nullptr) {
    ring.Clear();
    return dmsError_NoError;
  }
  if (count == nullptr) return dmsError_NullPointer;
  const size_t n = std::min<size_t>(*count, ring.Count());
  *count = 0;
  for (size_t i = 0; i < n && ring.Take(records[i]); ++i) ++*count;
  return dmsError_NoError;
}

uint16_t FinapresNanoDriver::DMS_GetPressureNbrSamples() {
  return static_cast<uint16_t>(mPressureRing.Count());
}
int32_t FinapresNanoDriver::DMS_GetPressureSamples(uint16_t* count, PressureSample* records) {
  return Fetch(mPressureRing, count, records);
}
uint16_t FinapresNanoDriver::DMS_GetHeightAndStatusNbrSamples() {
  return static_cast<uint16_t>(mHeightRing.Count());
}
int32_t FinapresNanoDriver::DMS_GetHeightAndStatusSamples(uint16_t* count,
                                                          HeightAndStatusSample* records) {
  return Fetch(mHeightRing, count, records);
}
uint16_t FinapresNanoDriver::DMS_GetBeatToBeatNbrSamples() {
  return static_cast<uint16_t>(mBeatRing.Count());
}
int32_t FinapresNanoDriver::DMS_GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records) {
  return Fetch(mBeatRing, count, records);
}

int32_t FinapresNanoDriver::DMS_GetMarkerSamples(uint16_t* count, MarkerSample*) {
  if (count != nullptr) *count = 0;
  return dmsError_NoError;
}

}  // namespace corvane
