// The vendor library's entry points, each forwarding to one process-wide
// simulated device. Settings come from the file named by CORVANE_SIM_SETTINGS;
// CORVANE_SIM_CALL_LOG names a file that records the calls.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "api/dms_library_entry_points.h"
#include "sim_controller.h"
#include "sim_settings.h"

// Declaring every entry point from the shared list makes the compiler reject
// any definition below whose signature drifts from what hosts resolve.
#define SIM_DECLARE_ENTRY_POINT(name, result, params) \
  extern "C" CORVANE_EXPORT result CORVANE_STDCALL name params;
CORVANE_DMS_ENTRY_POINTS(SIM_DECLARE_ENTRY_POINT)
#undef SIM_DECLARE_ENTRY_POINT

namespace {

using corvane::sim::SimController;

constexpr const char* kSettingsVariable = "CORVANE_SIM_SETTINGS";
constexpr std::chrono::milliseconds kSettingsPollInterval{100};
constexpr const char* kCallLogVariable = "CORVANE_SIM_CALL_LOG";

// Appends one line per entry point call, and "loaded" and "unloaded" when the
// library is mapped and unmapped (its static objects' construction and
// destruction: at load, and at unload or process exit). Each line is flushed
// at once, so that a host that hangs or crashes leaves a complete record.
class CallLog {
 public:
  CallLog() {
    const char* path = std::getenv(kCallLogVariable);
    if (path == nullptr || *path == '\0') return;
    file_ = std::fopen(path, "a");
    Record("loaded");
  }
  ~CallLog() {
    Record("unloaded");
    if (file_ != nullptr) std::fclose(file_);
  }
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  void Record(const char* what) {
    if (file_ == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(what, file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
  std::mutex mutex_;
};

class SimDevice {
 public:
  SimDevice() {
    const char* path = std::getenv(kSettingsVariable);
    if (path != nullptr && *path != '\0') watcher_.emplace(path);
    PollSettings();
  }

  SimController& Use() {
    PollSettings();
    return controller_;
  }

 private:
  // Cheap enough to run on every call: at most one pair of metadata reads per interval.
  void PollSettings() {
    if (!watcher_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (polled_ && now - last_poll_ < kSettingsPollInterval) return;
    polled_ = true;
    last_poll_ = now;
    std::optional<corvane::sim::ParsedSettings> parsed = watcher_->PollForChange();
    if (!parsed) return;
    for (const std::string& problem : parsed->problems) {
      std::fprintf(stderr, "sim_controller: %s: %s\n", watcher_->path().string().c_str(), problem.c_str());
    }
    controller_.ApplySettings(parsed->settings);
  }

  SimController controller_;
  std::optional<corvane::sim::SettingsFileWatcher> watcher_;
  std::mutex mutex_;
  bool polled_ = false;
  std::chrono::steady_clock::time_point last_poll_{};
};

// Constructed before the device and destroyed after it, so that "loaded" and
// "unloaded" bracket everything else.
CallLog g_call_log;
// Constructed when the library loads, so the settings file is read then.
SimDevice g_device;

SimController& Device() { return g_device.Use(); }

}  // namespace

using corvane::BeatToBeatSample;
using corvane::DMSStatus;
using corvane::HeightAndStatusSample;
using corvane::MarkerSample;
using corvane::PatientData;
using corvane::PressureSample;

// Each entry point hands its arguments to the SimController method of the same name.
#define SIM_FORWARD(name, result, params, arguments)                   \
  extern "C" CORVANE_EXPORT result CORVANE_STDCALL DMS_##name params { \
    g_call_log.Record("DMS_" #name);                                   \
    return Device().name arguments;                                    \
  }
// The status and sample reads that hosts poll many times a second stay out of
// the call log, which would otherwise grow by megabytes a minute.
#define SIM_FORWARD_POLLED(name, result, params, arguments) \
  extern "C" CORVANE_EXPORT result CORVANE_STDCALL DMS_##name params { return Device().name arguments; }

SIM_FORWARD(Connect, int32_t, (void), ())
SIM_FORWARD(Disconnect, int32_t, (void), ())
SIM_FORWARD(GetStatusConnect, int32_t, (void), ())
SIM_FORWARD(GetSerialNr, int32_t, (char* text, uint16_t* length), (text, length))
SIM_FORWARD(GetVersion, int32_t, (int32_t which, char* text, uint16_t* length), (which, text, length))
SIM_FORWARD_POLLED(GetStatus, int32_t, (DMSStatus * status), (status))
SIM_FORWARD_POLLED(ClearError, int32_t, (void), ())
SIM_FORWARD(SetMode, int32_t, (int32_t mode), (mode))
SIM_FORWARD(GetTestSteadyPressure, int32_t, (uint16_t * mmHg), (mmHg))
SIM_FORWARD(SetTestSteadyPressure, int32_t, (uint16_t mmHg), (mmHg))
SIM_FORWARD(GetTestSquarePressure, int32_t, (uint16_t * mmHg), (mmHg))
SIM_FORWARD(SetTestSquarePressure, int32_t, (uint16_t mmHg), (mmHg))
SIM_FORWARD(GetTestSquareFrequency, int32_t, (double* hertz), (hertz))
SIM_FORWARD(SetTestSquareFrequency, int32_t, (double hertz), (hertz))
SIM_FORWARD(ZeroHCU, int32_t, (void), ())
SIM_FORWARD(GetCuffSwitching, int32_t, (int32_t * cuff), (cuff))
SIM_FORWARD(SetCuffSwitching, int32_t, (int32_t cuff), (cuff))
SIM_FORWARD(GetPatientData, int32_t, (PatientData * data), (data))
SIM_FORWARD(SetPatientData, int32_t, (PatientData data), (data))
SIM_FORWARD(GetPhysioCal, int32_t, (int32_t * on), (on))
SIM_FORWARD(SetPhysioCal, int32_t, (int32_t on), (on))
SIM_FORWARD(GetInternalStatus, int32_t, (void* record), (record))
SIM_FORWARD_POLLED(GetPressureNbrSamples, uint16_t, (void), ())
SIM_FORWARD_POLLED(GetPressureSamples, int32_t, (uint16_t * count, PressureSample* records), (count, records))
SIM_FORWARD_POLLED(GetHeightAndStatusNbrSamples, uint16_t, (void), ())
SIM_FORWARD_POLLED(GetHeightAndStatusSamples, int32_t, (uint16_t * count, HeightAndStatusSample* records),
            (count, records))
SIM_FORWARD_POLLED(GetBeatToBeatNbrSamples, uint16_t, (void), ())
SIM_FORWARD_POLLED(GetBeatToBeatSamples, int32_t, (uint16_t * count, BeatToBeatSample* records), (count, records))
SIM_FORWARD_POLLED(GetMarkerNbrSamples, uint16_t, (void), ())
// The build without this entry point stands in for an older library, so hosts
// can be tested against an incomplete set.
#ifndef SIM_WITHOUT_MARKER_SAMPLES
SIM_FORWARD_POLLED(GetMarkerSamples, int32_t, (uint16_t * count, MarkerSample* records), (count, records))
#endif

#undef SIM_FORWARD
#undef SIM_FORWARD_POLLED
