// The module's version block, in one place for both targets: module.rc builds
// the Windows VERSIONINFO resource from these and version_info.cpp serves the
// same values on Linux, which has no version resource.
//
// Only #define lines with plain string and number literals: windres reads this
// file through the C preprocessor as well.
#pragma once

#define CORVANE_FILEVERSION_NUMBERS 2, 0, 8, 0
#define CORVANE_PRODUCTVERSION_NUMBERS 8, 1, 10, 0

#define CORVANE_COMPANY_NAME "Moravex"
#define CORVANE_FILE_DESCRIPTION "Corvane Controller"
#define CORVANE_FILE_VERSION "2.0.8"
#define CORVANE_INTERNAL_NAME "Corvane"
#define CORVANE_ORIGINAL_FILENAME "Corvane(8).kvwdll"
#define CORVANE_PRODUCT_NAME "Kymoview"
#define CORVANE_PRODUCT_VERSION "8.1.10"
// The host loads the module as a device plug-in because of these two.
#define CORVANE_EXTENSION_TYPE "DeviceEnabler"
#define CORVANE_EXTENSION_CLSID "{5C2E9A41-7D3B-4F86-A1C9-2B7E04D6F853}"
#define CORVANE_EXT_VERSION "2.0.8"
#define CORVANE_INTERNAL_ID "1"
#define CORVANE_INTERNAL_VERSION "18.8"

// The build's date and time, "day/month/year h:mm:ss AM", as
// CORVANE_BUILD_DATE: the build writes it into this generated header when it
// is configured.
#include "build_info.h"
