// Without EDFlib the recorder writes EDF+ itself.
#include "edf_writer.h"

namespace corvane::recorder {
std::unique_ptr<EdfWriter> MakeEdfWriter() { return MakePlainEdfWriter(); }
}  // namespace corvane::recorder
