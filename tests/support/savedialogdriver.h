#ifndef SAVEDIALOGDRIVER_H
#define SAVEDIALOGDRIVER_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// What the save dialog showed when it opened.
struct DialogSeen
{
    bool shown = false;
    QString caption;
    QString directory;
    QStringList selected;
    QStringList filters;
    QString type; // the file type offered
    bool confirmsOverwrite = false;
    bool askedToReplace = false;
};

// Answers the save dialog the next export opens, as a user does: cancels it,
// or types a name and accepts (and says yes when asked to replace an existing
// file). `whileOpen` runs while the dialog is up, before it is answered.
class DialogDriver : public QObject
{
public:
    explicit DialogDriver(const QString &typedName, std::function<void()> whileOpen = {});

    DialogSeen seen;
    // The file type to choose before accepting; empty: the one offered.
    QString chooseType;

private:
    void answerDialog();
    void answerQuestion();

    QString name;
    std::function<void()> whileOpen;
    QTimer dialogPoll;
    QTimer questionPoll;
};

#endif // SAVEDIALOGDRIVER_H
