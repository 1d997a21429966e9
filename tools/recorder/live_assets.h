// The live view's page, its script and style, and the chart library: built
// into the recorder (live_assets.cpp.in), so that the page works offline.
#pragma once

#include <string_view>

namespace corvane::recorder {

struct LiveAsset {
  std::string_view path;  // "/", "/live.js" ...
  std::string_view type;  // its Content-Type
  std::string_view body;
};

// The asset served at `path`, or null.
const LiveAsset* FindLiveAsset(std::string_view path);

}  // namespace corvane::recorder
