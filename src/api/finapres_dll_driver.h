// The Controller back-end: forwards every device call to the vendor control
// library, loaded at run time from the "Devices" folder beside the host.
#pragma once

#include "api/dms_library_entry_points.h"
#include "api/finapres_api_i.h"
#include "platform/dynamic_library.h"
#include "support/mvx_string.h"

namespace corvane {

class FinapresAPI final : public FinapresAPI_I {
 public:
  // Loads the library from the folder "Devices" beside the host executable.
  FinapresAPI();
  // Loads the library file at `libraryPath` (tests).
  explicit FinapresAPI(const std::wstring& libraryPath);
  ~FinapresAPI() override = default;

  static constexpr uint32_t kStartupDelayMs = 1000;

  bool LoadedOk() override { return mLibrary.IsLoaded(); }
  uint32_t GetStartupDelayMs() override { return kStartupDelayMs; }

#define CORVANE_DMS_DECLARE_OVERRIDE(name, result, params) result name params override;
  CORVANE_DMS_ENTRY_POINTS(CORVANE_DMS_DECLARE_OVERRIDE)
#undef CORVANE_DMS_DECLARE_OVERRIDE

  int32_t GetContinueAfterError(int32_t* flag) override;
  int32_t SetContinueAfterError(int32_t flag) override;

 private:
  void Load(const std::wstring& libraryPath);
  platform::DynamicLibrary mLibrary;  // empty while no library is loaded
};

// The file name of the vendor library on this platform.
const wchar_t* VendorLibraryFileName();

// Why the last library load failed; empty when it did not fail.
const MVX::MVXString& LibraryLoadFailureText();

// What the library's DMS_Connect last answered; kNoLibraryConnect when no
// library has been asked since the last load.
inline constexpr int32_t kNoLibraryConnect = -1;
int32_t LibraryConnectResult();

}  // namespace corvane
