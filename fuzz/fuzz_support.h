// Shared set-up of the fuzz targets.
#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

#include <iostream>

namespace fuzz {

// Malformed input makes the decoder write one diagnostic line per fault;
// at fuzzing speed that is noise, so the lines are dropped.
inline void SilenceDiagnostics() { std::cerr.rdbuf(nullptr); }

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H_
