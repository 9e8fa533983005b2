#ifndef FUZZRUN_H
#define FUZZRUN_H

#include <QString>

#include <cstddef>

// What the fuzz targets share: how a broken rule is reported, and the
// bounded run of a fuzzer.
namespace FuzzRun {

// Reports a broken rule and aborts, so that the fuzzer keeps the input that
// broke it (and the replay fails on it).
[[noreturn]] void fail(const char *target, const QString &what);

// Counts one input of `bytes` bytes (and, for the stream target, the bytes
// it had the meter send); the totals and the executions per second are
// printed when the process ends. With TAVROLD_FUZZ_BYTES and
// TAVROLD_FUZZ_STOP_FILE set, the file is made once that many input bytes
// have been tried: given to libFuzzer as -stop_file, it ends the run there.
void count(const char *target, std::size_t bytes, std::size_t streamBytes = 0);

} // namespace FuzzRun

#define FUZZ_CHECK(target, condition, what)                                                        \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzRun::fail(target, what);                                                           \
    } while (false)

#endif // FUZZRUN_H
