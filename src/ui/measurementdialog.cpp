#include "measurementdialog.h"

#include "livedisplay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace {

QDoubleSpinBox *numberBox(const char *name, double minimum, double maximum, int decimals,
                          const QString &suffix, QDoubleSpinBox *box = new QDoubleSpinBox)
{
    box->setObjectName(QLatin1String(name));
    box->setRange(minimum, maximum);
    box->setDecimals(decimals);
    box->setSuffix(suffix);
    box->setAlignment(Qt::AlignRight);
    box->setAccelerated(true);
    return box;
}

// A box rounds what it is given to its decimals. While it still shows the
// value it was given, that value comes back as it was, so that opening the
// dialog and pressing OK changes nothing.
double exactValue(const QDoubleSpinBox *box, double given)
{
    return box->textFromValue(box->value()) == box->textFromValue(given) ? given : box->value();
}

// A reference: a level, or "keine" below the lowest. The box takes the word
// as it is typed, letter by letter, as it takes the numbers.
class ReferenceBox : public QDoubleSpinBox
{
public:
    QValidator::State validate(QString &text, int &position) const override
    {
        const QString none = specialValueText();
        const QString typed = wordTyped(text);
        if (typed.isEmpty() || !none.startsWith(typed))
            return QDoubleSpinBox::validate(text, position);
        if (typed.size() < none.size())
            return QValidator::Intermediate;
        text = none;
        position = int(none.size());
        return QValidator::Acceptable;
    }
    double valueFromText(const QString &text) const override
    {
        return wordTyped(text) == specialValueText() ? minimum()
                                                     : QDoubleSpinBox::valueFromText(text);
    }

private:
    // The text without the unit, which the box adds while a word is typed.
    QString wordTyped(QString text) const
    {
        if (text.endsWith(suffix()))
            text.chop(suffix().size());
        return text.trimmed();
    }
};

// Heads the meter may add, which no one can have a calibration sheet for,
// go by the name of an unknown code.
bool isKnownHead(int headType)
{
    return LiveDisplay::headName(headType) != LiveDisplay::headName(-1);
}

} // namespace

MeasurementDialog::MeasurementDialog(QWidget *parent)
    : QDialog(parent), tableFolder(QDir::homePath())
{
    setWindowTitle(tr("Tavrolinde - Messung"));

    // Each group is a grid of a label, a number and what follows, the
    // columns as wide in every group so that the numbers line up.
    std::vector<QGridLayout *> grids;
    const auto group = [&grids](const QString &title) {
        auto *box = new QGroupBox(title);
        grids.push_back(new QGridLayout(box));
        grids.back()->setColumnStretch(2, 1);
        return box;
    };
    const auto addRow = [](QGridLayout *grid, const QString &label, QWidget *field,
                           const QString &hint = QString()) {
        const int row = grid->rowCount();
        auto *name = new QLabel(label);
        name->setBuddy(field);
        grid->addWidget(name, row, 0);
        grid->addWidget(field, row, 1);
        if (!hint.isEmpty())
            grid->addWidget(new QLabel(hint), row, 2, 1, -1);
    };

    // The offset and the tables, one row for each head.
    QGroupBox *correctionGroup = group(tr("Korrektur"));
    QGridLayout *grid = grids.back();
    offsetBox = numberBox("offsetBox", -MeasurementSettings::OffsetLimitDb,
                          MeasurementSettings::OffsetLimitDb, 2, tr(" dB"));
    addRow(grid, tr("&Offset:"), offsetBox, tr("positiv: Daempfung vor dem Messkopf"));
    frequencyBox = numberBox("frequencyBox", 0.0, 100000.0, 3, tr(" MHz"));
    addRow(grid, tr("&Frequenz:"), frequencyBox, tr("fuer die Tabelle des Messkopfs"));
    for (int head = 0; head < MeasurementSettings::HeadCount; ++head) {
        if (!isKnownHead(head))
            continue;
        const QString code = QString::number(head);
        TableRow &row = rows[size_t(head)];
        row.text = new QLabel;
        row.text->setObjectName(QStringLiteral("tableText") + code);
        auto *load = new QPushButton(tr("Laden ..."));
        load->setObjectName(QStringLiteral("loadTable") + code);
        row.save = new QPushButton(tr("Speichern ..."));
        row.save->setObjectName(QStringLiteral("saveTable") + code);
        row.remove = new QPushButton(tr("Entfernen"));
        row.remove->setObjectName(QStringLiteral("removeTable") + code);
        for (QPushButton *button : {load, row.save, row.remove})
            button->setAutoDefault(false);
        connect(load, &QPushButton::clicked, this, [this, head] { chooseTableToLoad(head); });
        connect(row.save, &QPushButton::clicked, this, [this, head] { chooseTableToSave(head); });
        connect(row.remove, &QPushButton::clicked, this, [this, head] { removeTable(head); });

        const int line = grid->rowCount();
        grid->addWidget(new QLabel(LiveDisplay::headName(head)), line, 0);
        grid->addWidget(row.text, line, 1);
        grid->addWidget(load, line, 3);
        grid->addWidget(row.save, line, 4);
        grid->addWidget(row.remove, line, 5);
    }

    // The average.
    QGroupBox *averageGroup = group(tr("Mittelung"));
    averageBox = new QSpinBox;
    averageBox->setObjectName(QStringLiteral("averageBox"));
    averageBox->setRange(1, MeasurementSettings::AverageLimit);
    averageBox->setSpecialValueText(tr("aus"));
    averageBox->setSuffix(tr(" Messwerte"));
    averageBox->setAlignment(Qt::AlignRight);
    averageBox->setAccelerated(true);
    addRow(grids.back(), tr("&Mittel ueber:"), averageBox, tr("auf die Leistung gerechnet"));
    stepBox = new QCheckBox(tr("&Sprungerkennung: bei mehr als %1 dB Abstand neu beginnen")
                                .arg(MeasurementSettings::StepDb));
    stepBox->setObjectName(QStringLiteral("stepBox"));
    grids.back()->addWidget(stepBox, grids.back()->rowCount(), 0, 1, -1);

    // The references: "keine" until one is typed or set from a reading.
    QGroupBox *relativeGroup = group(tr("Relativ"));
    relativeBox = new QCheckBox(tr("&Relativ: Pegel in dBr zur Referenz"));
    relativeBox->setObjectName(QStringLiteral("relativeBox"));
    grids.back()->addWidget(relativeBox, 0, 0, 1, -1);
    const char *names[] = {"referenceRmsBox", "referencePepBox"};
    const QString labels[] = {tr("R&eferenz RMS:"), tr("Referenz &PEP:")};
    const QString hints[] = {tr("keine: der erste Messwert wird die Referenz"), QString()};
    for (int kind = 0; kind < Protocol::LevelKindCount; ++kind) {
        QDoubleSpinBox *box = numberBox(names[kind], -LiveDisplay::LevelLimitDb - 0.01,
                                        LiveDisplay::LevelLimitDb, 2, tr(" dB"), new ReferenceBox);
        box->setSpecialValueText(tr("keine"));
        referenceBoxes[size_t(kind)] = box;
        addRow(grids.back(), labels[kind], box, hints[kind]);
    }
    connect(relativeBox, &QCheckBox::toggled, this, &MeasurementDialog::showReferenceState);

    // The limits, each on or off, in the unit the level is shown in.
    QGroupBox *limitGroup = group(tr("Grenzwerte"));
    grid = grids.back();
    const auto limitRow = [this, grid](const char *checkName, const QString &text,
                                       const char *boxName, const QString &hint) {
        auto *check = new QCheckBox(text);
        check->setObjectName(QLatin1String(checkName));
        QDoubleSpinBox *box = numberBox(boxName, -LimitSettings::LevelLimitDb,
                                        LimitSettings::LevelLimitDb, 2, tr(" dB"));
        const int row = grid->rowCount();
        grid->addWidget(check, row, 0);
        grid->addWidget(box, row, 1);
        grid->addWidget(new QLabel(hint), row, 2, 1, -1);
        connect(check, &QCheckBox::toggled, this, &MeasurementDialog::showLimitState);
        connect(box, &QDoubleSpinBox::valueChanged, this, &MeasurementDialog::showLimitState);
        return std::make_pair(check, box);
    };
    std::tie(lowCheck, lowBox) = limitRow("limitLowCheck", tr("&Unterer Grenzwert:"), "limitLowBox",
                                          tr("in der Einheit der Anzeige"));
    std::tie(highCheck, highBox) = limitRow("limitHighCheck", tr("O&berer Grenzwert:"),
                                            "limitHighBox", tr("gleich dem Grenzwert ist gut"));
    kindBox = new QComboBox;
    kindBox->setObjectName(QStringLiteral("limitKindBox"));
    kindBox->addItem(tr("RMS"), int(Protocol::Rms));
    kindBox->addItem(tr("PEP"), int(Protocol::Pep));
    addRow(grid, tr("&Art:"), kindBox, tr("der gepruefte Pegel"));
    hysteresisBox = numberBox("hysteresisBox", 0.0, LimitSettings::HysteresisLimitDb, 2, tr(" dB"));
    addRow(grid, tr("&Hysterese:"), hysteresisBox, tr("wieder gut erst so weit innerhalb"));
    toneBox = new QCheckBox(tr("&Ton ausserhalb der Grenzwerte (hoechstens einmal je Sekunde)"));
    toneBox->setObjectName(QStringLiteral("toneBox"));
    grid->addWidget(toneBox, grid->rowCount(), 0, 1, -1);
    countText = new QLabel;
    countText->setObjectName(QStringLiteral("limitCountText"));
    clearCountButton = new QPushButton(tr("&Zaehler loeschen"));
    clearCountButton->setObjectName(QStringLiteral("clearCountButton"));
    clearCountButton->setAutoDefault(false);
    connect(clearCountButton, &QPushButton::clicked, this, [this] {
        clearCount = true;
        setViolationCount(0);
    });
    const int countRow = grid->rowCount();
    grid->addWidget(new QLabel(tr("Verletzungen:")), countRow, 0);
    grid->addWidget(countText, countRow, 1);
    grid->addWidget(clearCountButton, countRow, 2, Qt::AlignLeft);
    // Why OK is refused, while it is.
    limitError = new QLabel;
    limitError->setObjectName(QStringLiteral("limitError"));
    QPalette warning = limitError->palette();
    warning.setColor(QPalette::WindowText, QColor(0xc0, 0x00, 0x00));
    limitError->setPalette(warning);
    grid->addWidget(limitError, grid->rowCount(), 0, 1, -1);

    // Line the labels and the numbers up across the groups.
    int labelWidth = 0, fieldWidth = 0;
    for (QGridLayout *g : grids) {
        for (int row = 0; row < g->rowCount(); ++row) {
            for (int column : {0, 1}) {
                QLayoutItem *item = g->itemAtPosition(row, column);
                if (!item || !item->widget() || g->itemAtPosition(row, 2) == item)
                    continue;
                int &width = column == 0 ? labelWidth : fieldWidth;
                width = std::max(width, item->widget()->sizeHint().width());
            }
        }
    }
    for (QGridLayout *g : grids) {
        g->setColumnMinimumWidth(0, labelWidth);
        g->setColumnMinimumWidth(1, fieldWidth);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Abbrechen"));
    okButton = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &MeasurementDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    for (QGroupBox *box : {correctionGroup, averageGroup, relativeGroup, limitGroup})
        layout->addWidget(box);
    layout->addStretch();
    layout->addWidget(buttons);

    setSettings(MeasurementSettings());
    setLimits(LimitSettings());
    setViolationCount(0);
}

MeasurementSettings MeasurementDialog::settings() const
{
    MeasurementSettings result = edited;
    result.offsetDb = exactValue(offsetBox, edited.offsetDb);
    result.frequencyMhz = exactValue(frequencyBox, edited.frequencyMhz);
    result.average = averageBox->value();
    result.stepDetection = stepBox->isChecked();
    result.relative = relativeBox->isChecked();
    for (size_t kind = 0; kind < referenceBoxes.size(); ++kind) {
        const QDoubleSpinBox *box = referenceBoxes[kind];
        const std::optional<double> &given = edited.reference[kind];
        if (box->value() == box->minimum())
            result.reference[kind].reset();
        else
            result.reference[kind] = given ? exactValue(box, *given) : box->value();
    }
    return result;
}

void MeasurementDialog::setSettings(const MeasurementSettings &settings)
{
    edited = settings;
    offsetBox->setValue(settings.offsetDb);
    frequencyBox->setValue(settings.frequencyMhz);
    averageBox->setValue(settings.average);
    stepBox->setChecked(settings.stepDetection);
    relativeBox->setChecked(settings.relative);
    for (size_t kind = 0; kind < referenceBoxes.size(); ++kind) {
        QDoubleSpinBox *box = referenceBoxes[kind];
        const std::optional<double> &reference = settings.reference[kind];
        // A reference beyond the box's range would read as "keine" at its end.
        box->setValue(reference ? qBound(-LiveDisplay::LevelLimitDb, *reference, box->maximum())
                                : box->minimum());
    }
    for (int head = 0; head < MeasurementSettings::HeadCount; ++head)
        showTable(head);
    showReferenceState();
}

LimitSettings MeasurementDialog::limits() const
{
    LimitSettings result = editedLimits;
    const auto limit = [](const QCheckBox *check, const QDoubleSpinBox *box,
                          const std::optional<double> &given) -> std::optional<double> {
        if (!check->isChecked())
            return std::nullopt;
        return given ? exactValue(box, *given) : box->value();
    };
    result.low = limit(lowCheck, lowBox, editedLimits.low);
    result.high = limit(highCheck, highBox, editedLimits.high);
    result.kind = Protocol::LevelKind(kindBox->currentData().toInt());
    result.hysteresisDb = exactValue(hysteresisBox, editedLimits.hysteresisDb);
    result.tone = toneBox->isChecked();
    return result;
}

void MeasurementDialog::setLimits(const LimitSettings &limits)
{
    editedLimits = limits;
    // A limit not set leaves its box as it was, to be ticked again.
    lowCheck->setChecked(limits.low.has_value());
    if (limits.low)
        lowBox->setValue(*limits.low);
    highCheck->setChecked(limits.high.has_value());
    if (limits.high)
        highBox->setValue(*limits.high);
    kindBox->setCurrentIndex(kindBox->findData(int(limits.kind)));
    hysteresisBox->setValue(limits.hysteresisDb);
    toneBox->setChecked(limits.tone);
    showLimitState();
}

void MeasurementDialog::setViolationCount(int count)
{
    countText->setText(QString::number(count));
    clearCountButton->setEnabled(count > 0);
}

// Limits that cannot be used are not taken: the lower above the upper.
void MeasurementDialog::accept()
{
    if (!limits().error().isEmpty())
        return;
    QDialog::accept();
}

bool MeasurementDialog::loadTable(int headType, const QString &path)
{
    if (headType < 0 || headType >= MeasurementSettings::HeadCount)
        return false;
    tableFolder = QFileInfo(path).absolutePath();
    QString error;
    std::optional<CorrectionTable> table = CorrectionTable::load(path, &error);
    if (!table) {
        warn(tr("Die Tabelle fuer %1 wurde nicht geladen:\n%2\n\n%3")
                 .arg(LiveDisplay::headName(headType), QDir::toNativeSeparators(path), error));
        return false;
    }
    edited.tables[size_t(headType)] = std::move(*table);
    showTable(headType);
    return true;
}

bool MeasurementDialog::saveTable(int headType, const QString &path)
{
    if (headType < 0 || headType >= MeasurementSettings::HeadCount)
        return false;
    tableFolder = QFileInfo(path).absolutePath();
    QString error;
    if (!edited.tables[size_t(headType)].save(path, &error)) {
        warn(tr("Die Tabelle fuer %1 wurde nicht gespeichert:\n%2\n\n%3")
                 .arg(LiveDisplay::headName(headType), QDir::toNativeSeparators(path), error));
        return false;
    }
    return true;
}

void MeasurementDialog::chooseTableToLoad(int headType)
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Korrekturtabelle fuer %1 laden").arg(LiveDisplay::headName(headType)),
        tableFolder, tr("Korrekturtabellen (*.csv *.txt);;Alle Dateien (*)"));
    if (!path.isEmpty())
        loadTable(headType, path);
}

void MeasurementDialog::chooseTableToSave(int headType)
{
    // "korrektur-AD8307-NF.csv" for the head "AD8307 NF".
    const QString name =
        QStringLiteral("korrektur-%1.csv")
            .arg(LiveDisplay::headName(headType).replace(QLatin1Char(' '), QLatin1Char('-')));
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Korrekturtabelle fuer %1 speichern").arg(LiveDisplay::headName(headType)),
        QDir(tableFolder).filePath(name), tr("Korrekturtabellen (*.csv *.txt)"));
    if (!path.isEmpty())
        saveTable(headType, path);
}

void MeasurementDialog::removeTable(int headType)
{
    edited.tables[size_t(headType)] = CorrectionTable();
    showTable(headType);
}

// "keine Tabelle" or "12 Punkte", with the table's span in its tool tip.
void MeasurementDialog::showTable(int headType)
{
    const TableRow &row = rows[size_t(headType)];
    if (!row.text)
        return;
    const CorrectionTable &table = edited.tables[size_t(headType)];
    row.save->setEnabled(!table.isEmpty());
    row.remove->setEnabled(!table.isEmpty());
    if (table.isEmpty()) {
        row.text->setText(tr("keine Tabelle"));
        row.text->setToolTip(QString());
        return;
    }
    const std::vector<CorrectionTable::Point> &points = table.points();
    row.text->setText(tr("%1 Punkte").arg(points.size()));
    row.text->setToolTip(tr("%1 bis %2 MHz")
                             .arg(points.front().frequencyMhz, 0, 'f', 3)
                             .arg(points.back().frequencyMhz, 0, 'f', 3));
}

// The references count only for relative levels.
void MeasurementDialog::showReferenceState()
{
    for (QDoubleSpinBox *box : referenceBoxes)
        box->setEnabled(relativeBox->isChecked());
}

// A limit's box only while it is ticked; the kind, the hysteresis and the
// tone only while a limit is. OK waits for limits that can be used.
void MeasurementDialog::showLimitState()
{
    lowBox->setEnabled(lowCheck->isChecked());
    highBox->setEnabled(highCheck->isChecked());
    const bool any = lowCheck->isChecked() || highCheck->isChecked();
    for (QWidget *input : {static_cast<QWidget *>(kindBox), static_cast<QWidget *>(hysteresisBox),
                           static_cast<QWidget *>(toneBox)})
        input->setEnabled(any);
    const QString error = limits().error();
    limitError->setText(error);
    limitError->setVisible(!error.isEmpty());
    if (okButton)
        okButton->setEnabled(error.isEmpty());
}

void MeasurementDialog::warn(const QString &text)
{
    QMessageBox::warning(this, windowTitle(), text);
}
