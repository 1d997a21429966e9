#include "sim_controller.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace corvane::sim {
namespace {

using Lock = std::lock_guard<std::mutex>;

constexpr uint64_t kTicksPerMs = 10'000;
constexpr uint64_t kUnixEpochTicks = 116'444'736'000'000'000ULL;  // 1970 on the 1601 scale
constexpr uint64_t kSamplesPerSecond = 200;
constexpr double kPi = 3.14159265358979323846;

// Queues keep the last minute; older records are dropped when the host lags.
constexpr size_t kMaxSampleRecords = 60 * kSamplesPerSecond;
constexpr size_t kMaxBeatRecords = 200;
constexpr size_t kMaxMarkerRecords = 60;

constexpr size_t kInternalStatusBytes = 16;
constexpr uint16_t kMaxSteadyMmHg = 300;
constexpr uint16_t kSquareAmplitudeMmHg = 50;
constexpr uint16_t kMaxSquareOffsetMmHg = 250;
constexpr double kMaxSquareHertz = 100.0;  // half the sample rate

// The simulated-pressure test mode: a 5 s square wave in finger and height pressure.
constexpr uint64_t kSimulateHalfPeriodSamples = 500;
constexpr uint16_t kSimulateHighMmHg = 120;
constexpr uint16_t kSimulateLowMmHg = 60;
constexpr int16_t kSimulateHeightMmHg = 10;

// Status channel values.
constexpr int32_t kCuffIdle = 0;
constexpr int32_t kCuffTestPressure = 1;
constexpr int32_t kCuffMeasuring = 2;
constexpr int32_t kCuffCalibrating = 3;
constexpr double kLightLevel = 1500.0;
constexpr double kLightSwing = 200.0;
constexpr double kLightPeriodS = 60.0;
constexpr int32_t kLightDark = 100;

template <typename Record>
void PushBounded(std::deque<Record>& queue, const Record& record, size_t limit) {
  if (queue.size() >= limit) queue.pop_front();
  queue.push_back(record);
}

bool Produces(int32_t mode) { return mode >= kModeMeasure && mode <= kModeTestSimulate; }

}  // namespace

uint64_t SystemFiletimeNow() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
  const auto since_1970 =
      std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
  return kUnixEpochTicks + static_cast<uint64_t>(since_1970.count());
}

SimController::SimController(FiletimeClock clock) : clock_(std::move(clock)) {}

void SimController::ApplySettings(const SimSettings& settings) {
  Lock lock(mutex_);
  CatchUpLocked();
  const SimSettings old = std::exchange(settings_, settings);
  if (settings.hcu_status != old.hcu_status) {
    hcu_status_ = settings.hcu_status;
    zeroing_ = false;
  }
  const bool injection_changed =
      settings.error_code != old.error_code || settings.error_at_ms != old.error_at_ms ||
      settings.warning_code != old.warning_code || settings.warning_at_ms != old.warning_at_ms ||
      settings.inject_from != old.inject_from;
  if (injection_changed) {
    error_injection_ = {};
    warning_injection_ = {};
    if (connected_) ArmInjectionsLocked(InjectFrom::kConnect, connect_time_);
    if (producing_) ArmInjectionsLocked(InjectFrom::kMeasureStart, measure_start_);
  }
}

int32_t SimController::Connect() {
  Lock lock(mutex_);
  CatchUpLocked();
  // A device found once and gone (switched off, taken by another program)
  // when the host connects again.
  const bool first = session_connects_ == 0;
  if (session_connects_ < std::numeric_limits<uint32_t>::max()) ++session_connects_;
  const int32_t result =
      first ? settings_.connect_result
            : settings_.connect_result_after_first.value_or(settings_.connect_result);
  if (result != dmsError_NoError && result != dmsError_Online) return result;
  if (!connected_) {
    connected_ = true;
    connect_time_ = now_;
    mode_ = kModeIdle;
    error_ = dmsError_NoError;
    warning_ = 0;
    error_stands_ = false;
    ArmInjectionsLocked(InjectFrom::kConnect, now_);
  }
  return result;
}

int32_t SimController::Disconnect() {
  Lock lock(mutex_);
  CatchUpLocked();
  StopLocked(now_, false);
  connected_ = false;
  session_connects_ = 0;
  zeroing_ = false;
  error_injection_ = {};
  warning_injection_ = {};
  pressure_.clear();
  height_.clear();
  beats_.clear();
  markers_.clear();
  return dmsError_NoError;
}

int32_t SimController::GetStatusConnect() {
  Lock lock(mutex_);
  return connected_ ? 1 : 0;
}

int32_t SimController::GetSerialNr(char* text, uint16_t* length) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  return CopyText(settings_.serial, text, length);
}

int32_t SimController::GetVersion(int32_t which, char* text, uint16_t* length) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (which != 0) return dmsError_OutOfRange;  // only the Controller's own version is known
  return CopyText(settings_.version, text, length);
}

int32_t SimController::GetStatus(DMSStatus* status) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (status == nullptr) return dmsError_NullPointer;
  *status = StatusLocked();
  error_shown_ = error_shown_ || error_ != dmsError_NoError;
  warning_shown_ = warning_shown_ || warning_ != 0;
  return dmsError_NoError;
}

int32_t SimController::ClearError() {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  // An error or warning that came up since the last status read stays until
  // a read has shown it, so a host that clears before it reads still learns
  // of it; an error whose cause stands stays regardless.
  if (error_shown_ && !error_stands_) error_ = dmsError_NoError;
  if (warning_shown_) warning_ = 0;
  return dmsError_NoError;
}

int32_t SimController::SetMode(int32_t mode) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (mode != kModeIdle && !Produces(mode)) return dmsError_OutOfRange;
  if (mode == kModeIdle) {
    StopLocked(now_, true);
    return dmsError_NoError;
  }
  if (!producing_) {
    producing_ = true;
    stopping_ = false;
    next_stamp_ = now_;
    measure_start_ = now_;
    ArmInjectionsLocked(InjectFrom::kMeasureStart, now_);
  } else if (mode == mode_) {
    return dmsError_NoError;
  }
  // Switching between producing modes keeps the time grid unbroken.
  mode_ = mode;
  mode_sample_ = 0;
  if (mode == kModeMeasure) StartWaveLocked();
  return dmsError_NoError;
}

int32_t SimController::GetTestSteadyPressure(uint16_t* mmHg) { return Read(mmHg, steady_mmHg_); }
int32_t SimController::SetTestSteadyPressure(uint16_t mmHg) {
  return Write(steady_mmHg_, mmHg, mmHg <= kMaxSteadyMmHg);
}
int32_t SimController::GetTestSquarePressure(uint16_t* mmHg) { return Read(mmHg, square_mmHg_); }
int32_t SimController::SetTestSquarePressure(uint16_t mmHg) {
  return Write(square_mmHg_, mmHg, mmHg <= kMaxSquareOffsetMmHg);
}
int32_t SimController::GetTestSquareFrequency(double* hertz) { return Read(hertz, square_hertz_); }
int32_t SimController::SetTestSquareFrequency(double hertz) {
  return Write(square_hertz_, hertz, hertz > 0.0 && hertz <= kMaxSquareHertz);  // false for NaN too
}

int32_t SimController::ZeroHCU() {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (hcu_status_ == kHcuNotConnected) return dmsError_NotAllowed;
  hcu_status_ = kHcuNotZeroed;
  zeroing_ = true;
  zero_done_ = now_ + settings_.zero_ms * kTicksPerMs;
  ResolveEventsLocked(now_);
  return dmsError_NoError;
}

int32_t SimController::GetCuffSwitching(int32_t* cuff) { return Read(cuff, cuff_); }
int32_t SimController::SetCuffSwitching(int32_t cuff) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (cuff != kCuff1 && cuff != kCuff2) return dmsError_OutOfRange;
  if (settings_.cuff_switch_result != dmsError_NoError) return settings_.cuff_switch_result;
  cuff_ = cuff;
  return dmsError_NoError;
}

int32_t SimController::GetPatientData(PatientData* data) { return Read(data, patient_); }
int32_t SimController::SetPatientData(PatientData data) { return Write(patient_, data, true); }
int32_t SimController::GetPhysioCal(int32_t* on) { return Read(on, physiocal_); }
int32_t SimController::SetPhysioCal(int32_t on) {
  return Write(physiocal_, on, on == 0 || on == 1);
}

int32_t SimController::GetInternalStatus(void* record) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (record == nullptr) return dmsError_NullPointer;
  std::memset(record, 0, kInternalStatusBytes);
  return dmsError_NoError;
}

uint16_t SimController::GetPressureNbrSamples() { return Count(pressure_); }
int32_t SimController::GetPressureSamples(uint16_t* count, PressureSample* records) {
  return Take(pressure_, count, records);
}
uint16_t SimController::GetHeightAndStatusNbrSamples() { return Count(height_); }
int32_t SimController::GetHeightAndStatusSamples(uint16_t* count, HeightAndStatusSample* records) {
  return Take(height_, count, records);
}
uint16_t SimController::GetBeatToBeatNbrSamples() { return Count(beats_); }
int32_t SimController::GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records) {
  return Take(beats_, count, records);
}
uint16_t SimController::GetMarkerNbrSamples() { return Count(markers_); }
int32_t SimController::GetMarkerSamples(uint16_t* count, MarkerSample* records) {
  return Take(markers_, count, records);
}

bool SimController::ReadyLocked() {
  CatchUpLocked();
  return connected_;
}

// Produces every sample whose 5 ms period has ended by now, resolving timed
// events (zeroing, slow stop, injections) at each sample's own time so the
// status inside the records changes at the right sample.
void SimController::CatchUpLocked() {
  const uint64_t now = clock_();
  now_ = now;
  if (producing_ && now > next_stamp_) {
    // After a very long silence only the last queue-full is worth producing.
    const uint64_t due = (now - next_stamp_) / kSamplePeriodTicks;
    if (due > 2 * kMaxSampleRecords) {
      const uint64_t skipped = due - kMaxSampleRecords;
      ResolveEventsLocked(next_stamp_ + skipped * kSamplePeriodTicks);
      next_stamp_ += skipped * kSamplePeriodTicks;
      mode_sample_ += skipped;
      if (mode_ == kModeMeasure) StartWaveLocked();
    }
  }
  while (producing_ && next_stamp_ + kSamplePeriodTicks <= now) {
    ResolveEventsLocked(next_stamp_);
    if (!producing_) break;
    ProduceSampleLocked(next_stamp_);
    next_stamp_ += kSamplePeriodTicks;
  }
  ResolveEventsLocked(now);
}

void SimController::StartWaveLocked() {
  wave_.Start({settings_.heart_rate, settings_.systolic, settings_.diastolic, settings_.seed});
}

void SimController::ResolveEventsLocked(uint64_t time) {
  if (zeroing_ && time >= zero_done_) {
    zeroing_ = false;
    hcu_status_ = settings_.zero_fails ? kHcuNotZeroed : kHcuZeroed;
  }
  if (stopping_ && time >= stop_done_) {
    stopping_ = false;
    mode_ = kModeIdle;
  }
  if (warning_injection_.armed && time >= warning_injection_.due) {
    warning_injection_.armed = false;
    warning_ = settings_.warning_code;
    warning_shown_ = false;
  }
  if (error_injection_.armed && time >= error_injection_.due) {
    error_injection_.armed = false;
    error_ = settings_.error_code;
    error_shown_ = false;
    if (settings_.error_stops) {
      // The last sample before the stop reports the error that ended the
      // measurement, as the device's final record does.
      if (producing_ && !height_.empty()) height_.back().mStatus.mError = error_;
      StopLocked(time, false);
    } else {
      // Measuring goes on with the fault in place: the error stands until
      // the measurement ends.
      error_stands_ = producing_;
    }
  }
}

void SimController::ProduceSampleLocked(uint64_t stamp) {
  PressureSample pressure{stamp, 0, 0};
  int16_t height = 0;
  switch (mode_) {
    case kModeMeasure: {
      const WaveSample wave = wave_.Next(stamp, physiocal_ != 0);
      pressure.mPressure = wave.pressure;
      height = wave.height;
      if (wave.finished_beat) PushBounded(beats_, *wave.finished_beat, kMaxBeatRecords);
      const uint64_t marker_samples = settings_.marker_interval_s * kSamplesPerSecond;
      if (marker_samples > 0 && mode_sample_ > 0 && mode_sample_ % marker_samples == 0) {
        MarkerSample marker{};
        const uint32_t number = ++markers_sent_;
        std::memcpy(marker.mData, &number, sizeof number);
        PushBounded(markers_, marker, kMaxMarkerRecords);
      }
      break;
    }
    case kModeTestSteady:
      pressure.mPressure = steady_mmHg_;
      break;
    case kModeTestSquare: {
      // Phase in whole samples times hertz keeps the edges exact for round frequencies.
      const double cycle = static_cast<double>(mode_sample_) * square_hertz_;
      const bool high =
          std::fmod(cycle, static_cast<double>(kSamplesPerSecond)) < kSamplesPerSecond / 2.0;
      pressure.mPressure =
          high ? static_cast<uint16_t>(square_mmHg_ + kSquareAmplitudeMmHg)
               : static_cast<uint16_t>(std::max(square_mmHg_, kSquareAmplitudeMmHg) -
                                       kSquareAmplitudeMmHg);
      break;
    }
    case kModeTestSimulate: {
      const bool high = (mode_sample_ / kSimulateHalfPeriodSamples) % 2 == 0;
      pressure.mPressure = high ? kSimulateHighMmHg : kSimulateLowMmHg;
      height = high ? kSimulateHeightMmHg : static_cast<int16_t>(-kSimulateHeightMmHg);
      break;
    }
    default:
      return;
  }
  ++mode_sample_;
  // A lost pressure sample leaves a gap in the stamps; its other records come.
  const uint32_t drop = settings_.pressure_drop_every;
  if (drop == 0 || mode_sample_ % drop != 0) PushBounded(pressure_, pressure, kMaxSampleRecords);
  HeightAndStatusSample status{};
  status.mTime = stamp;
  status.mHeight = height;
  status.mStatus = StatusLocked();
  PushBounded(height_, status, kMaxSampleRecords);
}

void SimController::StopLocked(uint64_t now, bool slowly) {
  const bool was_producing = producing_;
  producing_ = false;
  error_stands_ = false;
  if (settings_.inject_from == InjectFrom::kMeasureStart) {
    error_injection_ = {};
    warning_injection_ = {};
  }
  if (stopping_ && slowly) return;
  if (was_producing && slowly && settings_.stop_delay_ms > 0) {
    mode_ = kModeDeviceOnly7;
    stopping_ = true;
    stop_done_ = now + settings_.stop_delay_ms * kTicksPerMs;
  } else {
    mode_ = kModeIdle;
    stopping_ = false;
  }
}

void SimController::ArmInjectionsLocked(InjectFrom reference, uint64_t start) {
  if (settings_.inject_from != reference) return;
  error_injection_ = {settings_.error_code != dmsError_NoError,
                      start + settings_.error_at_ms * kTicksPerMs};
  warning_injection_ = {settings_.warning_code != 0, start + settings_.warning_at_ms * kTicksPerMs};
}

DMSStatus SimController::StatusLocked() const {
  DMSStatus status{};
  status.mBusy = (zeroing_ || stopping_) ? 1 : 0;
  status.mMode = mode_;
  status.mError = error_;
  status.mWarning = warning_;
  // The simulated-pressure test leaves the cuff deflated, like idle.
  status.mChannel8 = kCuffIdle;
  if (producing_ && mode_ == kModeMeasure) {
    status.mChannel8 = wave_.Calibrating() ? kCuffCalibrating : kCuffMeasuring;
  } else if (producing_ && (mode_ == kModeTestSteady || mode_ == kModeTestSquare)) {
    status.mChannel8 = kCuffTestPressure;
  }
  const bool measuring = producing_ && mode_ == kModeMeasure;
  status.mChannel10 = (measuring && physiocal_ != 0) ? wave_.BeatsUntilCalibration() : 0;
  const double seconds = static_cast<double>(mode_sample_) / static_cast<double>(kSamplesPerSecond);
  status.mChannel11 =
      measuring ? static_cast<int32_t>(std::lround(
                      kLightLevel + kLightSwing * std::sin(2.0 * kPi * seconds / kLightPeriodS)))
                : kLightDark;
  status.mHCUStatus = hcu_status_;
  status.mExtra1 = wave_.Calibrations();
  status.mExtra2 = -cuff_;  // the active cuff's number
  return status;
}

int32_t SimController::CopyText(const std::string& text, char* out, uint16_t* length) {
  if (out == nullptr || length == nullptr) return dmsError_NullPointer;
  if (*length == 0) return dmsError_NoError;  // no room even for the terminator
  const size_t copied = std::min<size_t>(text.size(), *length - 1u);
  std::memcpy(out, text.data(), copied);
  out[copied] = '\0';
  *length = static_cast<uint16_t>(copied);
  return dmsError_NoError;
}

template <typename Value>
int32_t SimController::Read(Value* out, const Value& value) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (out == nullptr) return dmsError_NullPointer;
  *out = value;
  return dmsError_NoError;
}

template <typename Value>
int32_t SimController::Write(Value& target, Value value, bool valid) {
  Lock lock(mutex_);
  if (!ReadyLocked()) return dmsError_Disconnected;
  if (!valid) return dmsError_OutOfRange;
  target = value;
  return dmsError_NoError;
}

template <typename Record>
uint16_t SimController::Count(const std::deque<Record>& queue) {
  Lock lock(mutex_);
  CatchUpLocked();
  return static_cast<uint16_t>(
      std::min<size_t>(queue.size(), std::numeric_limits<uint16_t>::max()));
}

// Fetches answer even when disconnected: the queues are empty then.
template <typename Record>
int32_t SimController::Take(std::deque<Record>& queue, uint16_t* count, Record* records) {
  Lock lock(mutex_);
  CatchUpLocked();
  if (records == nullptr) {
    queue.clear();
    return dmsError_NoError;
  }
  if (count == nullptr) return dmsError_NullPointer;
  const size_t taken = std::min<size_t>(*count, queue.size());
  std::copy_n(queue.begin(), taken, records);
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
  *count = static_cast<uint16_t>(taken);
  return dmsError_NoError;
}

}  // namespace corvane::sim
