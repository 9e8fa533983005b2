#include "fuzzrun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace FuzzRun {

namespace {

struct Totals
{
    const char *target = nullptr;
    QElapsedTimer clock;
    qint64 inputs = 0;
    qint64 bytes = 0;
    qint64 streamBytes = 0;
    bool printed = false;
    bool budgetReached = false;
};

Totals &totals()
{
    static Totals t;
    return t;
}

void printTotals()
{
    Totals &t = totals();
    if (t.printed || !t.target)
        return;
    t.printed = true;
    const double seconds = qMax<qint64>(t.clock.elapsed(), 1) / 1000.0;
    std::fprintf(stderr,
                 "%s: %lld inputs, %lld input bytes, %lld stream bytes in %.1f s, "
                 "%.0f exec/s\n",
                 t.target, qlonglong(t.inputs), qlonglong(t.bytes), qlonglong(t.streamBytes),
                 seconds, double(t.inputs) / seconds);
    std::fflush(stderr);
}

} // namespace

void fail(const char *target, const QString &what)
{
    std::fprintf(stderr, "%s: rule broken: %s\n", target, qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

void count(const char *target, std::size_t bytes, std::size_t streamBytes)
{
    static const qint64 budget = qEnvironmentVariableIntValue("TAVROLD_FUZZ_BYTES");
    static const QString stopFile = qEnvironmentVariable("TAVROLD_FUZZ_STOP_FILE");
    Totals &t = totals();
    if (!t.target) {
        t.target = target;
        t.clock.start();
        // The totals are printed on the way out.
        std::atexit(printTotals);
    }
    ++t.inputs;
    t.bytes += qint64(bytes);
    t.streamBytes += qint64(streamBytes);
    if (budget <= 0 || t.bytes < budget || stopFile.isEmpty() || t.budgetReached)
        return;
    t.budgetReached = true;
    std::fprintf(stderr, "%s: byte budget of %lld reached\n", target, qlonglong(budget));
    // libFuzzer looks at the file once a second, and only at one that is
    // not empty.
    QFile file(stopFile);
    if (!file.open(QIODevice::WriteOnly) || file.write("budget reached\n") <= 0)
        std::fprintf(stderr, "%s: cannot write %s\n", target, qPrintable(stopFile));
}

} // namespace FuzzRun
