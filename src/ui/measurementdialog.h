#ifndef MEASUREMENTDIALOG_H
#define MEASUREMENTDIALOG_H

#include "measurement.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

// "Tavrolinde - Messung": what the user sets to measure rather than only
// read. The offset, the frequency and a correction table for each detector
// head (loaded from and saved to files here), the average and the relative
// references. Nothing takes effect before OK; whoever opened the dialog reads
// settings() then.
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

private:
    void chooseTableToLoad(int headType);
    void chooseTableToSave(int headType);
    void removeTable(int headType);
    void showTable(int headType);
    void showReferenceState();
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

    // The settings as last set, with the tables as edited here: what the
    // dialog has no input for passes through unchanged.
    MeasurementSettings edited;
    // The folder of the last table file chosen.
    QString tableFolder;
};

#endif // MEASUREMENTDIALOG_H
