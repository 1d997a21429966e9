#include "api/finapres_dll_driver.h"

namespace corvane {
const wchar_t* VendorLibraryFileName() { return L"DMSFinapresAPI_C.so"; }
}  // namespace corvane
