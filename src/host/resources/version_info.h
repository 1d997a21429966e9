// The module's version block as data, for code that cannot read it from the
// module file (Linux builds carry no version resource).
#pragma once

#include <string_view>

namespace corvane {

// The value of `key` in the version block ("FileVersion", "BuildDate", ...),
// matched without regard to case as Windows does, or null when the block has
// no such key.
const wchar_t* ModuleVersionValue(std::wstring_view key);

// Whether a build whose version text is `version` announces itself to the host
// framework at start-up. Only pre-release builds do: alpha and beta builds, and
// release candidates marked final unless they are development builds; texts
// with "N/A" never.
bool ShouldAnnounceVersion(std::wstring_view version);

}  // namespace corvane
