// The wrist unit candidate of the back-end probe. The serial wrist unit driver
// is not part of the module yet, so there is never a wrist unit candidate and
// the probe goes straight on to the vendor library.
#include "api/finapres_api_i.h"

namespace corvane {

std::unique_ptr<FinapresAPI_I> CreateNanoBackEnd() { return nullptr; }

}  // namespace corvane
