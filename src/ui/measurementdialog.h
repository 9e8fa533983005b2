#ifndef MEASUREMENTDIALOG_H
#define MEASUREMENTDIALOG_H

#include "levellimits.h"
#include "measurement.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

// "Tavrolinde - Messung": what the user sets to measure rather than only
// read. The offset, the frequency and a correction table for each detector
// head (loaded from and saved to files here), the average and the relative
// references, and the limits the results are checked against. Nothing takes
// effect before OK; whoever opened the dialog reads settings() and limits()
// then. OK refuses limits that cannot be used (the lower above the upper).
class MeasurementDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MeasurementDialog(QWidget *parent = nullptr);

    MeasurementSettings settings() const;
    void setSettings(const MeasurementSettings &settings);

    // What "Laden ..." does once a file is chosen: the head's table is read
    // from it. A file that breaks a rule is named in a warning with the line
    // and why, and the table stays as it was.
    bool loadTable(int headType, const QString &path);
    // What "Speichern ..." does once a file is chosen; a failure is named in
    // a warning.
    bool saveTable(int headType, const QString &path);

    LimitSettings limits() const;
    void setLimits(const LimitSettings &limits);
    // The violations counted so far, shown beside "Zaehler loeschen"; whether
    // that was pressed (the counter is to start again from 0 with OK).
    void setViolationCount(int count);
    bool countCleared() const { return clearCount; }

public slots:
    void accept() override;

private:
    void chooseTableToLoad(int headType);
    void chooseTableToSave(int headType);
    void removeTable(int headType);
    void showTable(int headType);
    void showReferenceState();
    void showLimitState();
    void warn(const QString &text);

    QDoubleSpinBox *offsetBox;
    QDoubleSpinBox *frequencyBox;
    QSpinBox *averageBox;
    QCheckBox *stepBox;
    QCheckBox *relativeBox;
    std::array<QDoubleSpinBox *, Protocol::LevelKindCount> referenceBoxes{};

    // One row per known head; none for the codes the meter may add.
    struct TableRow
    {
        QLabel *text = nullptr;
        QPushButton *save = nullptr;
        QPushButton *remove = nullptr;
    };
    std::array<TableRow, MeasurementSettings::HeadCount> rows{};

    QCheckBox *lowCheck;
    QDoubleSpinBox *lowBox;
    QCheckBox *highCheck;
    QDoubleSpinBox *highBox;
    QComboBox *kindBox;
    QDoubleSpinBox *hysteresisBox;
    QCheckBox *toneBox;
    QLabel *countText;
    QPushButton *clearCountButton;
    QLabel *limitError;
    QPushButton *okButton = nullptr;
    LimitSettings editedLimits;
    bool clearCount = false;

    // The settings as last set, with the tables as edited here: what the
    // dialog has no input for passes through unchanged.
    MeasurementSettings edited;
    // The folder of the last table file chosen.
    QString tableFolder;
};

#endif // MEASUREMENTDIALOG_H
