// Runs kept inputs through a fuzz target without the fuzzer: every file named
// on the command line, and every file in every folder named there, in name
// order. Each target checks its rules itself and aborts when one is broken.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo info(QFile::decodeName(argv[i]));
        if (info.isDir()) {
            const QDir dir(info.filePath());
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << info.filePath();
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "replaying %s (%lld bytes)\n", qPrintable(path),
                     qlonglong(bytes.size()));
        QElapsedTimer clock;
        clock.start();
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                               std::size_t(bytes.size()));
        std::fprintf(stderr, "  done in %.1f ms\n", clock.nsecsElapsed() / 1e6);
    }
    std::fprintf(stderr, "%lld inputs replayed, every rule held\n", qlonglong(files.size()));
    return 0;
}
