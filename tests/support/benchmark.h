#ifndef BENCHMARK_H
#define BENCHMARK_H

// Shared by the benchmarks of the listing and of the export.

// Ratios of times measured in one run are checked only in builds without
// AddressSanitizer, which slows some ways down far more than others.
#if defined(__SANITIZE_ADDRESS__)
#define TAVROLD_TIMING_CHECKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVROLD_TIMING_CHECKS 0
#endif
#endif
#ifndef TAVROLD_TIMING_CHECKS
#define TAVROLD_TIMING_CHECKS 1
#endif

namespace Benchmark {

// The levels of data set `i` of the full store both benchmarks use, in
// hundredths of a dBm.
inline int rmsLevel(int i)
{
    return -(i * 37 % 9000);
}
inline int pepLevel(int i)
{
    return 1500 - i * 53 % 7000;
}

} // namespace Benchmark

#endif // BENCHMARK_H
