// CPU time used so far by the whole process, all threads, user and kernel.
#pragma once

namespace corvane::bench {

double ProcessCpuSeconds();

}  // namespace corvane::bench
