#ifndef STREAMMODEL_H
#define STREAMMODEL_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// The meter's stream taken a whole message at a time, the way a reader of
// the protocol would put it: a message is everything from an '@' to the next
// ';', its type is its last type letter (or the type before), its text all
// other bytes. Together with the user's download requests and listings it
// predicts what the display, the store and the listing must hold, however
// the stream is cut into reads.
class StreamModel
{
public:
    // `shown`: what the labels show before the first message of their kind.
    explicit StreamModel(const QHash<QString, QString> &shown = {});

    // Bytes as the program takes them in.
    void feed(const QByteArray &bytes);
    // "&Lesen": the store is cleared and waits for a new download.
    void requestDownload();
    // The listing is built (a completed download, "Refresh", or by hand).
    void buildListing();

    // What the label or group box `objectName` must show now.
    QString text(const QString &objectName) const;

    // The type of the last message (-1: no type letter seen yet), and the
    // type as a decoder that takes the bytes one by one holds it now, with
    // the type letters of a message not yet ended.
    int type = -1;
    int decoderType() const;
    int head = 0;
    bool inMessage = false;

    // The record store.
    int count = 0;
    int lastIndex = 0;
    bool complete = false;   // the last download completed (or was empty)
    bool headerSeen = false; // the last download's header came
    int interval = 1;
    std::vector<int> rms;
    std::vector<int> pep;

    // Messages ended (with a handler or without), downloads completed, listings built, and what the
    // last listing holds (its rows and the interval they were counted with).
    int messages = 0;
    int completions = 0;
    int listings = 0;
    int listedRows = 0;
    int listedInterval = 1;
    bool refreshEnabled = false;
    bool saveEnabled = false;

private:
    void message(const QByteArray &body);
    void dataSet(const QString &text);

    struct Level
    {
        bool seen = false;
        double value = 0.0;
        bool audio = false;
    };
    Level levels[2]; // RMS, PEP
    bool statusSeen = false;
    int serialNumber = 0;
    double maxLevel = 0.0;
    double attenuator = 0.0;
    std::optional<QString> recording;
    std::optional<QString> intervalText;
    std::optional<QString> countText;
    QHash<QString, QString> shown;
    QByteArray pending;    // of the message not yet ended
    qsizetype scanned = 0; // how far type letters were looked for in it
    int openType = -1;     // the last type letter in it
    int storedHigh = 0;    // slots at and beyond it are all 0
};

#endif // STREAMMODEL_H
