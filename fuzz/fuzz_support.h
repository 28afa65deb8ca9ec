// Shared set-up of the fuzz targets.
#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <iostream>

namespace fuzz {

// Malformed input makes the decoder write one diagnostic line per fault;
// at fuzzing speed that is noise, so the lines are dropped.
inline void SilenceDiagnostics() { std::cerr.rdbuf(nullptr); }

// An input may hold at most this many bytes live (allocated through
// operator new and not yet deleted) per byte of its size, plus the fixed
// allowance below. What sound decoding needs, measured: a decoded value
// takes at most about 100 bytes per byte of its message (each one-byte
// element is a 56-byte value, in lists whose storage doubles, the old and
// the new block both live while it grows); the round trip, which holds
// two decoded copies and two encodings, about 200. A message whose memory grows faster than its size (say
// quadratically) passes the bound at a few KiB.
constexpr size_t kLiveBytesPerInputByte = 384;
// Room for what every input allocates whatever its size: a method call,
// the first block of each encoding.
constexpr size_t kLiveBytesFixed = 16 * 1024;

// Counts what operator new hands out on this thread while it lives, and
// aborts the process, naming the input's size, the peak and the bound,
// before an allocation takes the live total past
// kLiveBytesPerInputByte * size + kLiveBytesFixed. One per input.
class AllocationCheck {
 public:
  explicit AllocationCheck(size_t input_size);
  ~AllocationCheck();
  AllocationCheck(const AllocationCheck&) = delete;
  AllocationCheck& operator=(const AllocationCheck&) = delete;
};

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H_
