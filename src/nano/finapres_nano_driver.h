// The device API over the wrist unit's serial link.
//
// There is no receive thread: frames are read only inside Poll and while
// SendAndWait waits for a reply, so the engine's regular calls (above all the
// status query) move data from the port into the sample rings. Construction
// searches the given ports for a unit and keeps the first that answers.
#pragma once

#include <array>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/finapres_api_i.h"
#include "nano/firmware_update.h"
#include "nano/link_clock.h"
#include "nano/nano_catalogue.h"
#include "nano/nano_message.h"
#include "nano/sample_ring.h"
#include "serial/com_port.h"
#include "support/interval_timer.h"
#include "support/mvx_string.h"

namespace corvane {

class FinapresNanoDriver : public FinapresAPI_I {
 public:
  static constexpr size_t kPressureRingSize = 2000;
  static constexpr size_t kHeightRingSize = 200;
  static constexpr size_t kBeatRingSize = 40;
  static constexpr uint32_t kReplyTimeoutMs = 100;
  static constexpr int32_t kBaudRate = 115200;
  // Status error values of the driver's own.
  static constexpr int32_t kDeviceErrorBase = 0x100;
  static constexpr int32_t kLinkSilenceError = 321;
  static constexpr int64_t kHangUpRetryMs = 200;

  // Searches `ports` in order for a wrist unit.
  explicit FinapresNanoDriver(const std::vector<MVX::MVXString>& ports,
                              const LinkClock& clock = SystemLinkClock());
  ~FinapresNanoDriver() override = default;
  FinapresNanoDriver(const FinapresNanoDriver&) = delete;
  FinapresNanoDriver& operator=(const FinapresNanoDriver&) = delete;

  bool LoadedOk() override { return true; }
  uint32_t GetStartupDelayMs() override { return 0; }
  bool NeedsBeatShift() override { return false; }
  int32_t DMS_Connect() override;
  int32_t DMS_Disconnect() override;
  int32_t DMS_GetStatusConnect() override { return mConnectStatus; }
  int32_t DMS_GetSerialNr(char* text, uint16_t* length) override;
  int32_t DMS_GetVersion(int32_t which, char* text, uint16_t* length) override;
  int32_t DMS_GetStatus(DMSStatus* status) override;
  int32_t DMS_ClearError() override;
  int32_t DMS_SetMode(int32_t mode) override;
  int32_t DMS_GetTestSteadyPressure(uint16_t* mmHg) override;
  int32_t DMS_SetTestSteadyPressure(uint16_t mmHg) override;
  int32_t DMS_GetTestSquarePressure(uint16_t* mmHg) override;
  int32_t DMS_SetTestSquarePressure(uint16_t mmHg) override;
  int32_t DMS_GetTestSquareFrequency(double* hertz) override;
  int32_t DMS_SetTestSquareFrequency(double hertz) override;
  int32_t DMS_ZeroHCU() override;
  int32_t DMS_GetCuffSwitching(int32_t* cuff) override;
  int32_t DMS_SetCuffSwitching(int32_t cuff) override;
  int32_t DMS_GetPatientData(PatientData*) override { return dmsError_NoError; }
  int32_t DMS_SetPatientData(PatientData) override { return dmsError_NoError; }
  int32_t DMS_GetPhysioCal(int32_t* on) override;
  int32_t DMS_SetPhysioCal(int32_t on) override;
  int32_t GetContinueAfterError(int32_t* flag) override;
  int32_t SetContinueAfterError(int32_t flag) override;
  int32_t DMS_GetInternalStatus(void*) override { return dmsError_NoError; }
  uint16_t DMS_GetPressureNbrSamples() override;
  int32_t DMS_GetPressureSamples(uint16_t* count, PressureSample* records) override;
  uint16_t DMS_GetHeightAndStatusNbrSamples() override;
  int32_t DMS_GetHeightAndStatusSamples(uint16_t* count, HeightAndStatusSample* records) override;
  uint16_t DMS_GetBeatToBeatNbrSamples() override;
  int32_t DMS_GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records) override;
  uint16_t DMS_GetMarkerNbrSamples() override { return 0; }
  int32_t DMS_GetMarkerSamples(uint16_t* count, MarkerSample* records) override;

  // The link. Each returns as its contract in the class comment says.
  bool SendAndWait(NanoMessage& request, uint32_t timeoutMs);
  bool Poll();
  void HandleMessage(const NanoMessage& message);
  bool Reconnect();
  uint64_t SampleStamp(uint16_t counter);

  // The driver state: 0 before the first status, 1 to 4 from the device, 6
  // in demonstration.
  int32_t DriverState() const { return mDriverState; }

 private:
  friend class DriverUpdateLink;
  // The demonstration generator's state.
  struct Demonstration {
    double heightWalk = 0;     // mmHg
    double slowPhase = 0;      // rad, one turn per 120 s of samples
    double beatPhase = 0;      // rad, one turn per beat
    double basePressure = 0;   // mmHg
    double baseHeartRate = 0;  // beats per minute
    int32_t systolic = 0;      // mmHg, highest pressure since the last beat
    int32_t diastolic = 200;   // mmHg, lowest pressure so far; never reset
  };

  bool SearchPorts(const std::vector<MVX::MVXString>& ports);
  bool ProbePort(const MVX::MVXString& port);
  // Whether a version reply's structure letter is a unit's version record:
  // the firmware's 'N' or a bootloader record 'B', 'I' or 'O'.
  static bool IsVersionRecord(char structure);
  // The hardware and firmware version a version reply tells of the unit.
  static UnitFirmware UnitOf(const nano::VersionFrame& version);
  int32_t StartMeasurement(uint8_t subCommand);
  bool QueryMode(uint32_t timeoutMs, int32_t* mode);
  int32_t StopTest();
  int32_t StartTest(uint8_t testType, uint32_t cuffSelector, uint32_t pressure, uint32_t periodMs);
  // Sends `request` with the usual time-out; true on its reply.
  bool Exchange(NanoMessage request, uint32_t timeoutMs = kReplyTimeoutMs);
  void StartDemonstration();
  void DemonstrationStep();
  void HandleStatus(const NanoMessage& message);
  void HandleData(const NanoMessage& message);
  void HandleBeat(const NanoMessage& message);
  void HandleVersion(const NanoMessage& message);
  // Re-opens the port after a read found it hung up, and keeps trying while
  // it stays closed, at most every kHangUpRetryMs.
  void RecoverFromHangUp();
  uint32_t CuffSelector() const { return mCuff == kCuff1 ? 1u : 2u; }
  template <typename Record>
  int32_t Fetch(SampleRing<Record>& ring, uint16_t* count, Record* records);

  const LinkClock& mClock;                         // every wait of the link
  int32_t mConnectStatus = dmsError_Disconnected;  // 1 when a unit was found
  std::recursive_mutex mMutex;                     // held for each command exchange
  std::deque<NanoMessage> mOutgoing;               // sent oldest first by Poll
  MVX::IntervalTimer mKeepAliveTimer;              // 1000 ms, while measuring
  MVX::IntervalTimer mLinkTimer;                   // restarted by every valid frame
  MVX::IntervalTimer mHangUpRetryTimer;            // paces re-opening a hung-up port
  MVX::IntervalTimer mClearErrorTimer;             // paces clearing a standing error
  uint8_t mStandingError = 0;                      // the device error last asked to clear
  bool mHungUp = false;                            // the port hung up and is not back yet
  bool mPortLost = false;                          // the last reopening failed; logged once
  COMPort mPort;                                   // the unit's serial port
  ReceiveBuffer mReceive;                          // refills from mPort
  nano::StatusFrame mLastStatus;                   // the latest 's' frame
  nano::DataFrame mLastData;                       // the latest 'd' frame
  bool mDataSeen = false;                          // a 'd' frame has arrived
  Demonstration mDemo;                             // mode 6
  DMSStatus mStatus{};                             // the status block
  int32_t mDriverState = 0;                        // see DriverState()
  uint16_t mSteadyPressure = 0;                    // mmHg
  uint16_t mSquarePressure = 0;                    // mmHg
  double mSquareFrequency = 1.0;                   // Hz, clamped to 1..100 before use
  int32_t mPhysioCal = 1;                          // 0 off, 1 on
  int32_t mContinueAfterError = 0;                 // 1 keeps sampling after an error
  int32_t mCuff = kCuff1;                          // -1 or -2
  uint64_t mStampBase = 0;                         // FILETIME of mStampCounter
  uint16_t mStampCounter = 0;                      // counter that belongs to the base
  bool mFirstStamp = true;                         // no stamp taken yet
  std::array<uint8_t, nano::VersionFrame::kRecordSize> mBootloaderRecord{};
  std::array<uint8_t, nano::VersionFrame::kHardwareRecordSize> mHardwareRecord{};
  std::array<uint8_t, nano::VersionFrame::kRecordSize> mFirmwareRecord{};
  SampleRing<PressureSample> mPressureRing{kPressureRingSize};
  SampleRing<HeightAndStatusSample> mHeightRing{kHeightRingSize};
  SampleRing<BeatToBeatSample> mBeatRing{kBeatRingSize};
  nano::ModeFrame mMode;               // from the last 'm' reply
  int32_t mPhysioCalOffCountdown = 0;  // beats until 'h' 0 is queued
};

}  // namespace corvane
