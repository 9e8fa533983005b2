// The whole way of the meter's bytes, under the fuzzer: a real main window,
// offscreen, that has found a meter on a pseudo-terminal by its own search;
// the meter's bytes go in at the meter's end of the line, and the window's
// own poll takes them in through its channel, in pieces whose sizes the
// input chooses, with the user's actions in between. After every step the
// window is compared with a model of the stream, and the rules the program
// must never break are checked.
//
// An input is a script. Every byte is a byte the meter sends, except 0xFF,
// which starts a command of two bytes (or more):
//   FF FF        the meter sends the byte 0xFF
//   FF 'p'       the poll runs once (getrs232())
//   FF 'd'       the user chooses "&Lesen" (a download request)
//   FF 'r'       the user clicks "Refresh" (nothing while it is disabled)
//   FF 'l'       the listing is built (fuellentxt())
//   FF 't' h m s the user sets the start time (each byte taken modulo 24, 60, 60)
//   FF 'x' n     the meter repeats the bytes since the last command: they
//                are sent 2^(n % 15) times in all (up to 16384), so that
//                a whole download, or one longer than the store holds,
//                comes from a short input
// Any other command byte does nothing. Bytes still waiting on the line at
// the end are taken in by as many polls as they need.

#include "displaytexts.h"
#include "fuzzrun.h"
#include "meterline.h"
#include "printfformat.h"
#include "protocol.h"
#include "streammodel.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimeEdit>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using Access = MainWindowTestAccess;

namespace {

constexpr char Target[] = "fuzz_stream";
constexpr uchar Escape = 0xff;
// A pseudo-terminal holds some 4 KB: more than this waiting on the line and
// the poll runs first, as its timer would.
constexpr int LineLimit = 3000;
// What one input may have the meter send in all: a full download of 16000
// data sets with live readings in between.
constexpr qint64 MaxStreamBytes = 1 << 19;
constexpr int MaxListedLines = DownloadSession::Capacity + 2;

// The text of a broken rule is only made when it is broken.
#define CHECK(condition, what) FUZZ_CHECK(Target, condition, what)

class StreamSession
{
public:
    bool start();
    // Runs one input from the window's start state.
    std::size_t run(const std::uint8_t *data, std::size_t size);

private:
    void reset();
    void tidyUp();
    void send(const QByteArray &bytes);
    void flush();
    void poll();
    void requestDownload();
    void clickRefresh();
    void buildListing();
    void setStartTime(int h, int m, int s);

    void checkWindow();
    void checkLabels();
    void checkListing();
    void checkWholeStore();

    MeterLine line;
    MainWindow *win = nullptr;
    QHash<QString, QObject *> widgets;
    QHash<QString, QString> formTexts;
    QPushButton *refresh = nullptr;
    QAction *readAction = nullptr;
    QAction *saveAction = nullptr;
    QTextBrowser *browser = nullptr;
    QTimeEdit *timeEdit = nullptr;
    QTabWidget *tabs = nullptr;

    std::unique_ptr<StreamModel> model;
    QByteArray out;     // the meter's bytes not yet on the line
    QByteArray waiting; // on the line, not yet taken in
    qint64 streamBytes = 0;
    int lowestCount = 0; // recordCount never goes below it within a download
    int checkedListings = 0;
    int checkedMessages = 0;
    int polls = 0;
    // TAVROLD_FUZZ_VERBOSE: what each input did, to see what a kept input
    // reaches.
    const bool verbose = qEnvironmentVariableIntValue("TAVROLD_FUZZ_VERBOSE") > 0;
};

QString textOf(QObject *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *box = qobject_cast<QGroupBox *>(widget))
        return box->title();
    return QString();
}

void setTextOf(QObject *widget, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *box = qobject_cast<QGroupBox *>(widget))
        box->setTitle(text);
}

bool StreamSession::start()
{
    if (!line.connect())
        return false;
    win = &line.win();
    // The input drives the poll; no timer may run it in between.
    Access::pollTimer(*win)->stop();
    // Nothing on screen: the window's state is the same, and no input pays
    // for painting it.
    win->hide();
    for (const QStringList *names : {&DisplayTexts::liveNames(), &DisplayTexts::downloadNames()}) {
        for (const QString &name : *names) {
            QObject *widget = win->findChild<QLabel *>(name);
            if (!widget)
                widget = win->findChild<QGroupBox *>(name);
            if (!widget)
                return false;
            widgets.insert(name, widget);
            formTexts.insert(name, textOf(widget));
        }
    }
    refresh = win->findChild<QPushButton *>(QStringLiteral("Buttonrefresh"));
    readAction = win->findChild<QAction *>(QStringLiteral("actiond_holen"));
    saveAction = win->findChild<QAction *>(QStringLiteral("action_Speichern"));
    browser = win->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    timeEdit = win->findChild<QTimeEdit *>(QStringLiteral("timeEdit"));
    tabs = win->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    return refresh && readAction && saveAction && browser && timeEdit && tabs;
}

// Back to the window as it was when it had found the meter: decoder, store,
// labels, listing and controls. The line is empty after every input.
void StreamSession::reset()
{
    tidyUp();
    model.reset(new StreamModel(formTexts));
}

void StreamSession::tidyUp()
{
    Access::resetDecoder(*win);
    // The store as a download request leaves it, no download running.
    Access::resetDownload(*win);
    for (auto it = widgets.cbegin(); it != widgets.cend(); ++it)
        setTextOf(it.value(), formTexts.value(it.key()));
    browser->clear();
    refresh->setEnabled(false);
    saveAction->setEnabled(false);
    timeEdit->setTime(QTime(0, 0));
    tabs->setCurrentIndex(0);
    // What the window posted for itself is handled, as the event loop does
    // between two polls.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    line.pty().clearReceived();
    model.reset();
    out.clear();
    waiting.clear();
    streamBytes = 0;
    lowestCount = 0;
    checkedListings = 0;
    checkedMessages = 0;
    polls = 0;
}

std::size_t StreamSession::run(const std::uint8_t *data, std::size_t size)
{
    reset();
    QByteArray stretch; // the meter's bytes since the last command
    std::size_t i = 0;
    while (i < size) {
        const uchar b = data[i++];
        if (b != Escape) {
            send(QByteArray(1, char(b)));
            stretch += char(b);
            continue;
        }
        if (i >= size)
            break;
        const uchar command = data[i++];
        switch (command) {
        case Escape:
            send(QByteArray(1, char(Escape)));
            stretch += char(Escape);
            continue;
        case 'p':
            flush();
            poll();
            break;
        case 'd':
            flush();
            requestDownload();
            break;
        case 'r':
            flush();
            clickRefresh();
            break;
        case 'l':
            flush();
            buildListing();
            break;
        case 't':
            if (i + 3 > size) {
                i = size;
                break;
            }
            flush();
            setStartTime(data[i], data[i + 1], data[i + 2]);
            i += 3;
            break;
        case 'x':
            if (i >= size)
                break;
            for (int n = (1 << (data[i] % 15)) - 1; n > 0 && !stretch.isEmpty(); --n)
                send(stretch);
            ++i;
            break;
        default:
            break;
        }
        stretch.clear();
    }
    flush();
    while (!waiting.isEmpty())
        poll();
    checkLabels();
    if (verbose)
        std::fprintf(stderr,
                     "  %lld stream bytes in %d polls, %d messages, %d data sets, "
                     "%d downloads completed, %d listings, the last of %d rows\n",
                     qlonglong(streamBytes), polls, model->messages, model->count,
                     model->completions, model->listings, model->listedRows);
    const std::size_t sent = std::size_t(streamBytes);
    // What this input made is freed again, so that the fuzzer sees no more
    // allocations than releases unless the program itself leaks.
    tidyUp();
    return sent;
}

// The meter sends: the bytes go on the line when the next command comes.
void StreamSession::send(const QByteArray &bytes)
{
    const qint64 room = MaxStreamBytes - streamBytes;
    if (room <= 0)
        return;
    out += bytes.left(room);
    streamBytes += qMin<qint64>(bytes.size(), room);
    if (out.size() >= LineLimit)
        flush();
}

void StreamSession::flush()
{
    while (!out.isEmpty()) {
        if (waiting.size() >= LineLimit)
            poll();
        const QByteArray piece = out.left(LineLimit - waiting.size());
        CHECK(line.send(piece), QStringLiteral("%1 bytes did not reach the program's end of the "
                                               "line")
                                    .arg(piece.size()));
        waiting += piece;
        out.remove(0, piece.size());
    }
}

// One run of the window's poll, as its timer starts it.
void StreamSession::poll()
{
    ++polls;
    Access::poll(*win);
    Access::pollTimer(*win)->stop();
    const int left = line.waiting();
    const int taken = int(waiting.size()) - left;
    CHECK(left >= 0 && taken == qMin<int>(int(waiting.size()), MeterLine::MaxRead),
          QStringLiteral("the poll took %1 of %2 waiting bytes").arg(taken).arg(waiting.size()));
    model->feed(waiting.left(taken));
    waiting.remove(0, taken);
    checkWindow();
}

void StreamSession::requestDownload()
{
    readAction->trigger();
    model->requestDownload();
    lowestCount = 0;
    const QByteArray sent = line.pty().received();
    CHECK(sent == Protocol::DownloadCommand,
          QStringLiteral("the request sent \"%1\"").arg(QString::fromLatin1(sent)));
    line.pty().clearReceived();
    CHECK(tabs->currentIndex() == 1, QStringLiteral("the request did not show the \"Daten\" tab"));
    checkWindow();
}

void StreamSession::clickRefresh()
{
    CHECK(refresh->isEnabled() == model->refreshEnabled,
          QStringLiteral("\"Refresh\" is %1").arg(refresh->isEnabled() ? "enabled" : "disabled"));
    refresh->click();
    if (model->refreshEnabled)
        model->buildListing();
    checkWindow();
}

void StreamSession::buildListing()
{
    win->fuellentxt();
    model->buildListing();
    checkWindow();
}

void StreamSession::setStartTime(int h, int m, int s)
{
    timeEdit->setTime(QTime(h % 24, m % 60, s % 60));
}

void StreamSession::checkWindow()
{
    const StreamModel &want = *model;
    checkWholeStore();
    const int count = Access::recordCount(*win);
    CHECK(count == want.count,
          QStringLiteral("recordCount is %1, the stream says %2").arg(count).arg(want.count));
    CHECK(count >= lowestCount,
          QStringLiteral("recordCount went back from %1 to %2 within a download")
              .arg(lowestCount)
              .arg(count));
    lowestCount = count;
    CHECK(Access::lastRecordIndex(*win) == want.lastIndex &&
              Access::recordIntervalSec(*win) == want.interval,
          QStringLiteral("the download header reads %1*%2, the stream says %3*%4")
              .arg(Access::lastRecordIndex(*win))
              .arg(Access::recordIntervalSec(*win))
              .arg(want.lastIndex)
              .arg(want.interval));

    const qsizetype textSize = Access::messageText(*win).size();
    CHECK(textSize <= Protocol::MaxValueTextLength + 1,
          QStringLiteral("the value text holds %1 characters").arg(textSize));
    CHECK(Access::inMessage(*win) == want.inMessage,
          QStringLiteral("the decoder is %1 a message").arg(want.inMessage ? "outside" : "inside"));
    CHECK(Access::messageType(*win) == want.decoderType(),
          QStringLiteral("the message type is %1, the stream says %2")
              .arg(Access::messageType(*win))
              .arg(want.decoderType()));
    CHECK(Access::rxHead(*win) == Access::rxTail(*win) && Access::rxHead(*win) >= 0 &&
              Access::rxHead(*win) < MeterStream::RxRingSize,
          QStringLiteral("the ring holds undecoded bytes"));

    // The labels change only with a message.
    if (want.messages != checkedMessages) {
        checkLabels();
        checkedMessages = want.messages;
    }
    if (want.listings != checkedListings) {
        checkListing();
        checkedListings = want.listings;
    }
    CHECK(refresh->isEnabled() == want.refreshEnabled,
          QStringLiteral("\"Refresh\" is %1").arg(refresh->isEnabled() ? "enabled" : "disabled"));
    CHECK(saveAction->isEnabled() == want.saveEnabled,
          QStringLiteral("\"&Speichern\" is %1")
              .arg(saveAction->isEnabled() ? "enabled" : "disabled"));
}

void StreamSession::checkLabels()
{
    for (auto it = widgets.cbegin(); it != widgets.cend(); ++it) {
        const QString text = textOf(it.value());
        CHECK(DisplayTexts::isWellFormed(it.key(), text),
              QStringLiteral("%1 shows \"%2\"").arg(it.key(), text.left(100)));
        const QString wanted = model->text(it.key());
        CHECK(
            text == wanted,
            QStringLiteral("%1 shows \"%2\", the stream says \"%3\"").arg(it.key(), text, wanted));
    }
}

// The listing has its two header lines and one line per data set, never
// more than the store holds; its first and last rows show the store.
void StreamSession::checkListing()
{
    const StreamModel &want = *model;
    const QTextDocument *doc = browser->document();
    const int lines = doc->blockCount();
    CHECK(lines <= MaxListedLines, QStringLiteral("the listing has %1 lines").arg(lines));
    CHECK(lines == 2 + want.listedRows, QStringLiteral("the listing has %1 lines for %2 data sets")
                                            .arg(lines)
                                            .arg(want.listedRows));
    const QTime start = timeEdit->time();
    for (const int n : {1, want.listedRows}) {
        if (n < 1 || n > want.listedRows)
            continue;
        const QString row = doc->findBlockByNumber(n + 1).text();
        const QString wanted = PrintfFormat::listingRow(
            n, start.addSecs(int(qint64(want.listedInterval) % 86400 * n % 86400)),
            want.rms.at(n - 1), want.pep.at(n - 1));
        CHECK(row == wanted,
              QStringLiteral("row %1 of the listing is \"%2\", the store says \"%3\"")
                  .arg(n)
                  .arg(row, wanted));
    }
}

// Every slot of the store holds what the stream put there, and nothing else
// changed: a data set beyond the last slot would show here (the slot after
// the last RMS value is the first PEP value).
void StreamSession::checkWholeStore()
{
    const int *rms = Access::rmsValues(*win);
    const int *pep = Access::pepValues(*win);
    const std::size_t storeBytes = DownloadSession::Capacity * sizeof(int);
    if (std::memcmp(rms, model->rms.data(), storeBytes) == 0 &&
        std::memcmp(pep, model->pep.data(), storeBytes) == 0)
        return;
    for (int i = 0; i < DownloadSession::Capacity; ++i)
        CHECK(rms[i] == model->rms.at(i) && pep[i] == model->pep.at(i),
              QStringLiteral("slot %1 of the store holds %2/%3, the stream says %4/%5")
                  .arg(i)
                  .arg(rms[i])
                  .arg(pep[i])
                  .arg(model->rms.at(i))
                  .arg(model->pep.at(i)));
}

StreamSession *session = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C.UTF-8");
    // Lives as long as the process, as the program's own application does.
    new QApplication(*argc, *argv);
    session = new StreamSession;
    if (!session->start()) {
        std::fprintf(stderr, "%s: the window did not find the meter on its line\n", Target);
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t streamBytes = session->run(data, size);
    FuzzRun::count(Target, size, streamBytes);
    return 0;
}
