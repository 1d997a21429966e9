#include "api/finapres_dll_driver.h"

#include <atomic>

#include "platform/fs_path.h"
#include "support/debug_trace.h"
#include "support/module_log.h"
#include "support/path.h"

namespace corvane {
namespace {

constexpr wchar_t kMissingText[] = L"Corvane control DLL is missing or cannot be loaded: ";
constexpr wchar_t kMismatchText[] =
    L"Corvane control DLL cannot be loaded (API mismatch perhaps?).";
constexpr wchar_t kDevicesFolder[] = L"Devices";

// The resolved entry points, shared by the whole module like the library.
struct EntryPoints {
#define CORVANE_DMS_TABLE_FIELD(name, result, params) dms_library::name##_fn name = nullptr;
  CORVANE_DMS_ENTRY_POINTS(CORVANE_DMS_TABLE_FIELD)
#undef CORVANE_DMS_TABLE_FIELD
};
EntryPoints gEntry;

int32_t gContinueAfterError = 0;
MVX::MVXString gLoadFailureText;
// Kept so that an engine left without a device can tell the user what the
// library answered; set on the probing thread and by the worker's "init".
std::atomic<int32_t> gLastConnectResult{kNoLibraryConnect};

}  // namespace

const MVX::MVXString& LibraryLoadFailureText() { return gLoadFailureText; }

int32_t LibraryConnectResult() { return gLastConnectResult.load(); }

FinapresAPI::FinapresAPI() {
  if (platform::ExecutablePath().empty()) return;  // no path, no library, nothing to tell
  Load((MVX::Path() / kDevicesFolder / VendorLibraryFileName()).Wide());
}

FinapresAPI::FinapresAPI(const std::wstring& libraryPath) { Load(libraryPath); }

void FinapresAPI::Load(const std::wstring& libraryPath) {
  gLastConnectResult.store(kNoLibraryConnect);
  mLibrary = platform::DynamicLibrary::Open(libraryPath);
  if (!mLibrary.IsLoaded()) {
    gLoadFailureText = kMissingText + libraryPath;
    return;
  }
  // All or nothing: the first missing name frees the library again.
#define CORVANE_DMS_RESOLVE(name, result, params)                                      \
  gEntry.name = reinterpret_cast<dms_library::name##_fn>(mLibrary.Symbol(#name));      \
  if (gEntry.name == nullptr) {                                                        \
    MVX_TRACE(MVX::kUnitDLLDriver, L"!!! Entry point missing: " #name);            \
    MVX::ModuleLog::Write(L"!!! FinapresDLLDriver: entry point missing: " #name);  \
    gLoadFailureText = kMismatchText;                                                  \
    mLibrary.Close();                                                                  \
    return;                                                                            \
  }
  CORVANE_DMS_ENTRY_POINTS(CORVANE_DMS_RESOLVE)
#undef CORVANE_DMS_RESOLVE
  gLoadFailureText.clear();
}

int32_t FinapresAPI::GetContinueAfterError(int32_t* flag) {
  if (flag != nullptr) *flag = gContinueAfterError;
  return 0;
}

int32_t FinapresAPI::SetContinueAfterError(int32_t flag) {
  gContinueAfterError = flag;
  return 0;
}

int32_t FinapresAPI::DMS_SetCuffSwitching(int32_t cuff) {
  MVX_TRACE(MVX::kUnitDLLDriver, L"Cuff set to " + std::to_wstring(cuff));
  const int32_t result = gEntry.DMS_SetCuffSwitching(cuff);
  if (result != 0) {
    MVX_TRACE(MVX::kUnitDLLDriver, L"!!! Error setting cuff: " + std::to_wstring(result));
  }
  return result;
}

// Every other operation calls the entry point of the same name unchanged.
int32_t FinapresAPI::DMS_Connect() {
  const int32_t result = gEntry.DMS_Connect();
  gLastConnectResult.store(result);
  return result;
}
int32_t FinapresAPI::DMS_Disconnect() { return gEntry.DMS_Disconnect(); }
int32_t FinapresAPI::DMS_GetStatusConnect() { return gEntry.DMS_GetStatusConnect(); }
int32_t FinapresAPI::DMS_GetSerialNr(char* t, uint16_t* n) { return gEntry.DMS_GetSerialNr(t, n); }
int32_t FinapresAPI::DMS_GetVersion(int32_t w, char* t, uint16_t* n) {
  return gEntry.DMS_GetVersion(w, t, n);
}
int32_t FinapresAPI::DMS_GetStatus(DMSStatus* s) { return gEntry.DMS_GetStatus(s); }
int32_t FinapresAPI::DMS_ClearError() { return gEntry.DMS_ClearError(); }
int32_t FinapresAPI::DMS_SetMode(int32_t m) { return gEntry.DMS_SetMode(m); }
int32_t FinapresAPI::DMS_GetTestSteadyPressure(uint16_t* p) {
  return gEntry.DMS_GetTestSteadyPressure(p);
}
int32_t FinapresAPI::DMS_SetTestSteadyPressure(uint16_t p) {
  return gEntry.DMS_SetTestSteadyPressure(p);
}
int32_t FinapresAPI::DMS_GetTestSquarePressure(uint16_t* p) {
  return gEntry.DMS_GetTestSquarePressure(p);
}
int32_t FinapresAPI::DMS_SetTestSquarePressure(uint16_t p) {
  return gEntry.DMS_SetTestSquarePressure(p);
}
int32_t FinapresAPI::DMS_GetTestSquareFrequency(double* f) {
  return gEntry.DMS_GetTestSquareFrequency(f);
}
int32_t FinapresAPI::DMS_SetTestSquareFrequency(double f) {
  return gEntry.DMS_SetTestSquareFrequency(f);
}
int32_t FinapresAPI::DMS_ZeroHCU() { return gEntry.DMS_ZeroHCU(); }
int32_t FinapresAPI::DMS_GetCuffSwitching(int32_t* c) { return gEntry.DMS_GetCuffSwitching(c); }
int32_t FinapresAPI::DMS_GetPatientData(PatientData* d) { return gEntry.DMS_GetPatientData(d); }
int32_t FinapresAPI::DMS_SetPatientData(PatientData d) { return gEntry.DMS_SetPatientData(d); }
int32_t FinapresAPI::DMS_GetPhysioCal(int32_t* on) { return gEntry.DMS_GetPhysioCal(on); }
int32_t FinapresAPI::DMS_SetPhysioCal(int32_t on) { return gEntry.DMS_SetPhysioCal(on); }
int32_t FinapresAPI::DMS_GetInternalStatus(void* r) { return gEntry.DMS_GetInternalStatus(r); }
uint16_t FinapresAPI::DMS_GetPressureNbrSamples() { return gEntry.DMS_GetPressureNbrSamples(); }
int32_t FinapresAPI::DMS_GetPressureSamples(uint16_t* n, PressureSample* r) {
  return gEntry.DMS_GetPressureSamples(n, r);
}
uint16_t FinapresAPI::DMS_GetHeightAndStatusNbrSamples() {
  return gEntry.DMS_GetHeightAndStatusNbrSamples();
}
int32_t FinapresAPI::DMS_GetHeightAndStatusSamples(uint16_t* n, HeightAndStatusSample* r) {
  return gEntry.DMS_GetHeightAndStatusSamples(n, r);
}
uint16_t FinapresAPI::DMS_GetBeatToBeatNbrSamples() { return gEntry.DMS_GetBeatToBeatNbrSamples(); }
int32_t FinapresAPI::DMS_GetBeatToBeatSamples(uint16_t* n, BeatToBeatSample* r) {
  return gEntry.DMS_GetBeatToBeatSamples(n, r);
}
uint16_t FinapresAPI::DMS_GetMarkerNbrSamples() { return gEntry.DMS_GetMarkerNbrSamples(); }
int32_t FinapresAPI::DMS_GetMarkerSamples(uint16_t* n, MarkerSample* r) {
  return gEntry.DMS_GetMarkerSamples(n, r);
}

std::unique_ptr<FinapresAPI_I> CreateLibraryBackEnd() { return std::make_unique<FinapresAPI>(); }

}  // namespace corvane
