#include "listingdocument.h"

#include <QAbstractEventDispatcher>
#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QEvent>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace {

// Rows a step builds or lays out before it looks at the clock again.
constexpr int RowsPerLook = 32;

} // namespace

ListingDocument::ListingDocument(QTextBrowser *browser) : QObject(browser), browser(browser)
{
    connect(&buildTimer, &QTimer::timeout, this, &ListingDocument::buildStep);
    connect(&layoutTimer, &QTimer::timeout, this, &ListingDocument::layOutStep);
}

void ListingDocument::prepare(const QString &next)
{
    // What is built stays if the new text goes on from it (more data sets
    // of the same download, timed alike); anything else starts anew.
    if (document && QStringView(next).left(built) != QStringView(text).left(built)) {
        delete document;
        document = nullptr;
    }
    if (!document) {
        document = new QTextDocument(this);
        document->setUndoRedoEnabled(false);
        built = 0;
    }
    text = next;
    if (built < text.size())
        buildTimer.start(0);
}

void ListingDocument::show(const QString &next)
{
    prepare(next);
    buildTimer.stop();
    buildUpTo(text.size());

    QTextDocument *shown = browser->document();
    document->setDefaultFont(shown->defaultFont());
    document->setDefaultTextOption(shown->defaultTextOption());
    document->setDocumentMargin(shown->documentMargin());
    document->setDefaultStyleSheet(shown->defaultStyleSheet());
    // The browser deletes the document it showed when that was its child.
    document->setParent(browser);
    browser->setDocument(document);
    document->documentLayout()->installEventFilter(this);
    laidOut = 0;
    layoutTimer.start(0);
    // "Refresh" with the same start time shows the same text again.
    document = nullptr;
    prepare(text);
}

void ListingDocument::buildStep()
{
    if (layoutTimer.isActive())
        return; // the listing shown is laid out first
    QElapsedTimer clock;
    clock.start();
    while (built < text.size() && clock.nsecsElapsed() < StepNs) {
        qsizetype end = built;
        for (int row = 0; row < RowsPerLook && end < text.size(); ++row) {
            end = text.indexOf(QLatin1Char('\n'), end + 1);
            if (end < 0)
                end = text.size();
        }
        buildUpTo(end);
    }
    if (built >= text.size())
        buildTimer.stop();
}

void ListingDocument::buildUpTo(qsizetype end)
{
    if (end <= built)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringView(text).mid(built, end - built).toString());
    built = end;
}

// The text document layout lays a long document out by itself in steps that
// double in size each time, up to thousands of rows at once, and again from
// the top when the width changes (a scroll bar comes). Its steps (its timer
// with an interval; the one without reports the size) are held back, and the
// rows are laid out here instead, a few milliseconds' worth a pass; what the
// browser needs to draw it lays out at once as always.
bool ListingDocument::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Timer || watched != browser->document()->documentLayout())
        return QObject::eventFilter(watched, event);
    const int id = static_cast<QTimerEvent *>(event)->timerId();
    const auto timers = QAbstractEventDispatcher::instance(thread())->registeredTimers(watched);
    const bool layoutStep = std::any_of(timers.cbegin(), timers.cend(), [id](const auto &timer) {
        return timer.timerId == id && timer.interval > 0;
    });
    if (!layoutStep)
        return QObject::eventFilter(watched, event);
    if (!layoutTimer.isActive()) {
        laidOut = 0;
        layoutTimer.start(0);
    }
    return true;
}

void ListingDocument::layOutStep()
{
    QTextDocument *shown = browser->document();
    QAbstractTextDocumentLayout *layout = shown->documentLayout();
    const int blocks = shown->blockCount();
    // A block that has lost its lines was laid out anew from the top.
    if (laidOut > 0 && laidOut <= blocks) {
        const QTextLayout *lines = shown->findBlockByNumber(laidOut - 1).layout();
        if (lines && lines->lineCount() == 0)
            laidOut = 0;
    }
    QElapsedTimer clock;
    clock.start();
    while (laidOut < blocks && clock.nsecsElapsed() < StepNs) {
        laidOut = std::min(laidOut + RowsPerLook, blocks);
        layout->blockBoundingRect(shown->findBlockByNumber(laidOut - 1));
    }
    if (laidOut >= blocks)
        layoutTimer.stop();
}
