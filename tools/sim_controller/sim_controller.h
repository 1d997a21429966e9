// The simulated Corvane Controller: the device behind the vendor library's
// entry points, for tests and demos that have no real device.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "api/dms_records.h"
#include "sim_settings.h"
#include "sim_wave.h"

namespace corvane::sim {

// "Now" on the FILETIME scale: 100-ns units since 1601-01-01 UTC.
using FiletimeClock = std::function<uint64_t()>;
uint64_t SystemFiletimeNow();

// Samples are produced lazily: every call first generates whatever became due
// since the previous call, so the device needs no thread of its own and a
// test's fake clock fully controls it. All methods may be called from any
// thread; results are the device API's result codes (DmsError).
class SimController {
 public:
  explicit SimController(FiletimeClock clock = SystemFiletimeNow);

  // Takes effect at once, except the circulation (heart_rate, systolic,
  // diastolic, seed), which the next measurement start picks up.
  void ApplySettings(const SimSettings& settings);

  int32_t Connect();
  int32_t Disconnect();
  int32_t GetStatusConnect();
  int32_t GetSerialNr(char* text, uint16_t* length);
  int32_t GetVersion(int32_t which, char* text, uint16_t* length);
  int32_t GetStatus(DMSStatus* status);
  int32_t ClearError();
  int32_t SetMode(int32_t mode);
  int32_t GetTestSteadyPressure(uint16_t* mmHg);
  int32_t SetTestSteadyPressure(uint16_t mmHg);
  int32_t GetTestSquarePressure(uint16_t* mmHg);
  int32_t SetTestSquarePressure(uint16_t mmHg);
  int32_t GetTestSquareFrequency(double* hertz);
  int32_t SetTestSquareFrequency(double hertz);
  int32_t ZeroHCU();
  int32_t GetCuffSwitching(int32_t* cuff);
  int32_t SetCuffSwitching(int32_t cuff);
  int32_t GetPatientData(PatientData* data);
  int32_t SetPatientData(PatientData data);
  int32_t GetPhysioCal(int32_t* on);
  int32_t SetPhysioCal(int32_t on);
  // The internal status record is assumed to be 16 bytes; it is zero-filled.
  int32_t GetInternalStatus(void* record);

  // On entry *count is the capacity of `records`; on return the number
  // written, oldest first. Null `records` discards the whole queue.
  uint16_t GetPressureNbrSamples();
  int32_t GetPressureSamples(uint16_t* count, PressureSample* records);
  uint16_t GetHeightAndStatusNbrSamples();
  int32_t GetHeightAndStatusSamples(uint16_t* count, HeightAndStatusSample* records);
  uint16_t GetBeatToBeatNbrSamples();
  int32_t GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records);
  uint16_t GetMarkerNbrSamples();
  int32_t GetMarkerSamples(uint16_t* count, MarkerSample* records);

 private:
  struct Injection {
    bool armed = false;
    uint64_t due = 0;
  };

  // Catches up to now; false when the call must answer Disconnected.
  bool ReadyLocked();
  void CatchUpLocked();
  void ResolveEventsLocked(uint64_t time);
  void StartWaveLocked();
  void ProduceSampleLocked(uint64_t stamp);
  void StopLocked(uint64_t now, bool slowly);
  void ArmInjectionsLocked(InjectFrom reference, uint64_t start);
  DMSStatus StatusLocked() const;
  static int32_t CopyText(const std::string& text, char* out, uint16_t* length);
  // Whole calls: lock, catch up, check, then read, write, count or take.
  template <typename Value>
  int32_t Read(Value* out, const Value& value);
  template <typename Value>
  int32_t Write(Value& target, Value value, bool valid);
  template <typename Record>
  uint16_t Count(const std::deque<Record>& queue);
  template <typename Record>
  int32_t Take(std::deque<Record>& queue, uint16_t* count, Record* records);

  std::mutex mutex_;
  FiletimeClock clock_;
  SimSettings settings_;

  uint64_t now_ = 0;  // as of the latest catch-up
  bool connected_ = false;
  uint32_t session_connects_ = 0;  // DMS_Connect calls since loading or the last disconnect
  uint64_t connect_time_ = 0;
  int32_t mode_ = kModeIdle;
  int32_t error_ = dmsError_NoError;
  int32_t warning_ = 0;
  // Whether a status read has shown the error or warning yet: ClearError
  // only acknowledges what the host could have seen.
  bool error_shown_ = false;
  bool warning_shown_ = false;
  bool error_stands_ = false;  // its cause persists while measuring goes on
  Injection error_injection_;
  Injection warning_injection_;
  int32_t hcu_status_ = kHcuNotZeroed;
  bool zeroing_ = false;
  uint64_t zero_done_ = 0;
  bool stopping_ = false;
  uint64_t stop_done_ = 0;

  bool producing_ = false;
  uint64_t next_stamp_ = 0;
  uint64_t measure_start_ = 0;
  uint64_t mode_sample_ = 0;  // samples since the current mode began
  ArterialWave wave_;
  uint32_t markers_sent_ = 0;

  uint16_t steady_mmHg_ = 50;
  uint16_t square_mmHg_ = 50;
  double square_hertz_ = 1.0;
  int32_t cuff_ = kCuff1;
  PatientData patient_{};
  int32_t physiocal_ = 1;

  std::deque<PressureSample> pressure_;
  std::deque<HeightAndStatusSample> height_;
  std::deque<BeatToBeatSample> beats_;
  std::deque<MarkerSample> markers_;
};

}  // namespace corvane::sim
