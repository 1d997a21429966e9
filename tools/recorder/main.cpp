// corvane-record: records a Corvane device through its device module.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "recorder.h"

int main(int argc, char** argv) {
  using namespace corvane::recorder;
  Options options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "error: %s\n\n%s", error.what(), UsageText().c_str());
    return kExitUsage;
  }
  return Run(options);
}
