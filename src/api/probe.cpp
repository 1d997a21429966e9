#include <array>

#include "api/finapres_api_i.h"

namespace corvane {

std::unique_ptr<FinapresAPI_I> ProbeBackEnd(std::span<const BackEndFactory> candidates) {
  for (const BackEndFactory& create : candidates) {
    std::unique_ptr<FinapresAPI_I> candidate = create();
    if (candidate == nullptr) continue;
    if (!candidate->LoadedOk()) continue;
    const int32_t result = candidate->DMS_Connect();
    if (result == dmsError_NoError || result == dmsError_Online) return candidate;
    // Close a half-opened port or library connection before letting go.
    candidate->DMS_Disconnect();
  }
  return nullptr;
}

std::unique_ptr<FinapresAPI_I> ProbeBackEnd() {
  static const std::array<BackEndFactory, 2> kCandidates = {CreateNanoBackEnd,
                                                            CreateLibraryBackEnd};
  return ProbeBackEnd(kCandidates);
}

}  // namespace corvane
