// Builds without cairo make no plot.
#include "plot.h"

namespace corvane::recorder {

bool WritePlot(const std::string&, const PlotData&, const std::string&, std::string& error) {
  error = "this build of the recorder cannot draw plots (it was built without cairo)";
  return false;
}

}  // namespace corvane::recorder
