#include "mainwindow.h"

#include "identity.h"
#include "measurementdialog.h"
#include "meterconnection.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QSettings>
#include <QStatusBar>

// The corrections and the limits come back as they were last set, kept
// beside "pfad".
void MainWindow::setUpMeasurement()
{
    QSettings settings(Identity::Organisation, Identity::Application);
    connection->setMeasurement(MeasurementSettings::load(settings));
    connection->setLimits(LimitSettings::load(settings));
    connect(ui->actionMessung, &QAction::triggered, this, &MainWindow::editMeasurement);
    connect(ui->actionReferenz, &QAction::triggered, this, &MainWindow::setReference);
    showCorrection();
}

// "Messung ...": the dialog with every setting; they take effect with OK.
void MainWindow::editMeasurement()
{
    MeasurementDialog dialog(this);
    dialog.setSettings(connection->measurementSettings());
    dialog.setLimits(connection->limits().settings());
    dialog.setViolationCount(connection->limits().violationCount());
    if (dialog.exec() != QDialog::Accepted)
        return;
    connection->setMeasurement(dialog.settings());
    // Limits as they were go on being checked where they are; none ever
    // set leave the settings file as it was.
    if (dialog.limits() != connection->limits().settings()) {
        connection->setLimits(dialog.limits());
        QSettings settings(Identity::Organisation, Identity::Application);
        connection->limits().settings().save(settings);
    }
    if (dialog.countCleared())
        connection->clearLimitCount();
    keepMeasurement();
}

// "Referenz setzen": the levels read now become the references, and the
// display reads in dB to them.
void MainWindow::setReference()
{
    if (!connection->setReferenceFromLast()) {
        statusBar()->showMessage(tr("Referenz nicht gesetzt: noch kein Messwert"), 5000);
        return;
    }
    keepMeasurement();
}

void MainWindow::keepMeasurement()
{
    QSettings settings(Identity::Organisation, Identity::Application);
    connection->measurementSettings().save(settings);
    showCorrection();
    showLimits();
}

// Whenever a correction is on, the display says which, so that no one takes
// a corrected number for a raw one.
void MainWindow::showCorrection()
{
    const QString text = connection->correctionText();
    if (ui->labelKorrektur->text() != text)
        ui->labelKorrektur->setText(text);
}
