// A scripted device back-end for engine tests: queues of records that tests
// fill, results that tests choose, and a log of every call made.
#pragma once

#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "api/finapres_api_i.h"

namespace corvane::testing {

class FakeBackEnd : public FinapresAPI_I {
 public:
  // What the back-end answers; tests set these before or while the engine runs
  // (under `mutex` once the worker runs).
  bool loadedOk = true;
  uint32_t startupDelayMs = 0;
  bool needsBeatShift = true;
  int32_t connectResult = 0;
  int32_t cuffSwitchResult = 0;
  int32_t cuff = kCuff1;  // what DMS_GetCuffSwitching reports
  int32_t continueAfterError = 0;
  int32_t physioCal = 1;
  std::string serial = "SN123";
  std::string version = "1.2.3";
  DMSStatus status{};
  bool fillHcuStatus = true;  // false: leave mHCUStatus alone
  bool errorStands = false;   // true: DMS_ClearError leaves the error standing
  std::deque<PressureSample> pressure;
  std::deque<HeightAndStatusSample> heightAndStatus;
  std::deque<BeatToBeatSample> beats;
  std::deque<MarkerSample> markers;
  bool* destroyed = nullptr;  // set to true by the destructor

  // Every call, in order, as "Name(args)".
  std::vector<std::string> calls;
  mutable std::recursive_mutex mutex;

  ~FakeBackEnd() override {
    if (destroyed != nullptr) *destroyed = true;
  }

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex);
    return calls;
  }
  bool Called(const std::string& call) const {
    std::lock_guard lock(mutex);
    for (const auto& c : calls) {
      if (c == call) return true;
    }
    return false;
  }

  bool LoadedOk() override { return loadedOk; }
  uint32_t GetStartupDelayMs() override { return startupDelayMs; }
  bool NeedsBeatShift() override { return needsBeatShift; }

  int32_t DMS_Connect() override { return Log("DMS_Connect()", connectResult); }
  int32_t DMS_Disconnect() override { return Log("DMS_Disconnect()", 0); }
  int32_t DMS_GetStatusConnect() override { return Log("DMS_GetStatusConnect()", 1); }
  int32_t DMS_GetSerialNr(char* text, uint16_t* length) override {
    return Text("DMS_GetSerialNr()", serial, text, length);
  }
  int32_t DMS_GetVersion(int32_t which, char* text, uint16_t* length) override {
    return Text("DMS_GetVersion(" + std::to_string(which) + ")", version, text, length);
  }
  int32_t DMS_GetStatus(DMSStatus* out) override {
    std::lock_guard lock(mutex);
    calls.emplace_back("DMS_GetStatus()");
    const int32_t hcu = out->mHCUStatus;
    *out = status;
    if (!fillHcuStatus) out->mHCUStatus = hcu;
    return 0;
  }
  int32_t DMS_ClearError() override {
    std::lock_guard lock(mutex);
    if (!errorStands) status.mError = 0;
    return Log("DMS_ClearError()", 0);
  }
  int32_t DMS_SetMode(int32_t mode) override {
    std::lock_guard lock(mutex);
    status.mMode = mode;
    return Log("DMS_SetMode(" + std::to_string(mode) + ")", 0);
  }
  int32_t DMS_GetTestSteadyPressure(uint16_t* v) override {
    return Get("DMS_GetTestSteadyPressure()", v);
  }
  int32_t DMS_SetTestSteadyPressure(uint16_t v) override {
    return Log("DMS_SetTestSteadyPressure(" + std::to_string(v) + ")", 0);
  }
  int32_t DMS_GetTestSquarePressure(uint16_t* v) override {
    return Get("DMS_GetTestSquarePressure()", v);
  }
  int32_t DMS_SetTestSquarePressure(uint16_t v) override {
    return Log("DMS_SetTestSquarePressure(" + std::to_string(v) + ")", 0);
  }
  int32_t DMS_GetTestSquareFrequency(double* v) override {
    return Get("DMS_GetTestSquareFrequency()", v);
  }
  int32_t DMS_SetTestSquareFrequency(double v) override {
    return Log("DMS_SetTestSquareFrequency(" + std::to_string(static_cast<int>(v)) + ")", 0);
  }
  int32_t DMS_ZeroHCU() override { return Log("DMS_ZeroHCU()", 0); }
  int32_t DMS_GetCuffSwitching(int32_t* out) override {
    std::lock_guard lock(mutex);
    *out = cuff;
    return Log("DMS_GetCuffSwitching()", 0);
  }
  int32_t DMS_SetCuffSwitching(int32_t value) override {
    std::lock_guard lock(mutex);
    if (cuffSwitchResult == 0) cuff = value;
    return Log("DMS_SetCuffSwitching(" + std::to_string(value) + ")", cuffSwitchResult);
  }
  int32_t DMS_GetPatientData(PatientData* data) override {
    *data = {};
    return Log("DMS_GetPatientData()", 0);
  }
  int32_t DMS_SetPatientData(PatientData d) override {
    return Log("DMS_SetPatientData(" + std::to_string(d.mValue0) + "," + std::to_string(d.mValue1) +
                   "," + std::to_string(d.mValue2) + ")",
               0);
  }
  int32_t DMS_GetPhysioCal(int32_t* on) override {
    std::lock_guard lock(mutex);
    *on = physioCal;
    return Log("DMS_GetPhysioCal()", 0);
  }
  int32_t DMS_SetPhysioCal(int32_t on) override {
    std::lock_guard lock(mutex);
    physioCal = on;
    return Log("DMS_SetPhysioCal(" + std::to_string(on) + ")", 0);
  }
  int32_t GetContinueAfterError(int32_t* flag) override {
    std::lock_guard lock(mutex);
    if (flag != nullptr) *flag = continueAfterError;
    return 0;
  }
  int32_t SetContinueAfterError(int32_t flag) override {
    std::lock_guard lock(mutex);
    continueAfterError = flag;
    return Log("SetContinueAfterError(" + std::to_string(flag) + ")", 0);
  }
  int32_t DMS_GetInternalStatus(void*) override { return Log("DMS_GetInternalStatus()", 0); }
  uint16_t DMS_GetPressureNbrSamples() override { return Size(pressure); }
  int32_t DMS_GetPressureSamples(uint16_t* count, PressureSample* records) override {
    return Fetch("DMS_GetPressureSamples", pressure, count, records);
  }
  uint16_t DMS_GetHeightAndStatusNbrSamples() override { return Size(heightAndStatus); }
  int32_t DMS_GetHeightAndStatusSamples(uint16_t* count, HeightAndStatusSample* records) override {
    return Fetch("DMS_GetHeightAndStatusSamples", heightAndStatus, count, records);
  }
  uint16_t DMS_GetBeatToBeatNbrSamples() override { return Size(beats); }
  int32_t DMS_GetBeatToBeatSamples(uint16_t* count, BeatToBeatSample* records) override {
    return Fetch("DMS_GetBeatToBeatSamples", beats, count, records);
  }
  uint16_t DMS_GetMarkerNbrSamples() override { return Size(markers); }
  int32_t DMS_GetMarkerSamples(uint16_t* count, MarkerSample* records) override {
    return Fetch("DMS_GetMarkerSamples", markers, count, records);
  }

 private:
  int32_t Log(const std::string& call, int32_t result) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
    return result;
  }
  template <typename T>
  int32_t Get(const std::string& call, T* value) {
    *value = T{};
    return Log(call, 0);
  }
  int32_t Text(const std::string& call, const std::string& value, char* text, uint16_t* length) {
    const size_t n = std::min<size_t>(value.size(), *length - 1u);
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    *length = static_cast<uint16_t>(n);
    return Log(call, 0);
  }
  template <typename T>
  uint16_t Size(const std::deque<T>& queue) {
    std::lock_guard lock(mutex);
    return static_cast<uint16_t>(queue.size());
  }
  template <typename T>
  int32_t Fetch(const std::string& name, std::deque<T>& queue, uint16_t* count, T* records) {
    std::lock_guard lock(mutex);
    if (records == nullptr) {
      queue.clear();
      return Log(name + "(discard)", 0);
    }
    if (count == nullptr) return Log(name + "(null count)", dmsError_NullPointer);
    uint16_t n = 0;
    while (n < *count && !queue.empty()) {
      records[n++] = queue.front();
      queue.pop_front();
    }
    *count = n;
    return 0;  // fetches are frequent: not logged
  }
};

}  // namespace corvane::testing
