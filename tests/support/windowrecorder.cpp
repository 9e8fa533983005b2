#include "windowrecorder.h"

#include <QMainWindow>
#include <QStatusBar>

WindowRecorder::WindowRecorder(QMainWindow &window, const QElapsedTimer &clock) : clock(clock)
{
    connect(window.statusBar(), &QStatusBar::messageChanged, this,
            [this](const QString &text) { add(QStringLiteral("status ") + text); });
    connect(&window, &QWidget::windowTitleChanged, this,
            [this](const QString &text) { add(QStringLiteral("title ") + text); });
}

void WindowRecorder::add(const QString &what)
{
    events.append({clock.elapsed(), what});
}

qint64 WindowRecorder::find(const QString &what, int *from) const
{
    for (int i = *from; i < events.size(); ++i) {
        if (events.at(i).what == what) {
            *from = i + 1;
            return events.at(i).ms;
        }
    }
    return -1;
}

QStringList WindowRecorder::texts(const QString &prefix, int from) const
{
    QStringList list;
    for (int i = qMax(from, 0); i < events.size(); ++i)
        if (events.at(i).what.startsWith(prefix))
            list << events.at(i).what.mid(prefix.size());
    return list;
}

QString WindowRecorder::dump() const
{
    QString text;
    for (const Event &e : events)
        text += QStringLiteral("\n%1 ms: %2").arg(e.ms).arg(e.what);
    return text;
}
