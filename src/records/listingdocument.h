#ifndef LISTINGDOCUMENT_H
#define LISTINGDOCUMENT_H

#include <QObject>
#include <QString>
#include <QTimer>

class QTextBrowser;
class QTextDocument;

// The listing's document, made ready in small steps while the event loop
// runs, so that showing 16000 data sets never holds the window up for long.
//
// prepare() is told the text the listing will probably show (the data sets
// that have arrived, timed from the start time now in the time edit); a
// document of that text is built a few hundred rows per pass of the event
// loop, going on from what it has when the new text begins with it. show()
// puts the document of a text into the browser at once, whole: the rows not
// built yet are built there and then (all of them if the text is another).
// The browser then lays the document out a little per pass, too, and the
// same text is prepared anew for the next "Refresh".
class ListingDocument : public QObject
{
    Q_OBJECT

public:
    explicit ListingDocument(QTextBrowser *browser);

    void prepare(const QString &text);
    void show(const QString &text);

    // The time one step may take.
    static constexpr qint64 StepNs = 2'000'000;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildStep();
    void layOutStep();
    void buildUpTo(qsizetype end);

    QTextBrowser *browser;
    QTextDocument *document = nullptr;
    QString text;
    qsizetype built = 0;
    int laidOut = 0;
    QTimer buildTimer;
    QTimer layoutTimer;
};

#endif // LISTINGDOCUMENT_H
