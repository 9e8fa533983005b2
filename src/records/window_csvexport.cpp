#include "identity.h"
#include "mainwindow.h"

#include "meterconnection.h"
#include "recordformat.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStatusBar>

// "&Speichern": saves the data sets as a CSV file that the user names in a
// save dialog. The dialog starts at the last file saved ("pfad"); the new
// file replaces an old one only once it has been written completely, and only
// then is its path remembered. A save that fails says so in the status bar.
void MainWindow::datenspeichern()
{
    QSettings settings(Identity::Organisation, Identity::Application);
    const QString lastPath = settings.value(QStringLiteral("pfad"), QDir::homePath()).toString();

    // Beside the file as it always was, one with ',' as decimal point for
    // German spreadsheets; the dialog offers the type chosen last.
    QString type = Records::csvFileType(Records::decimalCommaChosen());
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Speicher der Daten"),
                                                          QFileInfo(lastPath).absoluteFilePath(),
                                                          Records::csvFileTypes(), &type);
    if (fileName.isEmpty())
        return;
    const bool decimalComma = type == Records::csvFileType(true);
    Records::setDecimalCommaChosen(decimalComma);

    // The store as it is now: a download may have gone on while the dialog
    // was open.
    QByteArray bytes = connection->download().csvFile(ui->timeEdit->time());
    if (decimalComma)
        bytes = Records::withDecimalComma(bytes);
    QString error;
    if (!Records::writeFile(fileName, bytes, &error)) {
        statusBar()->showMessage(tr("Nicht gespeichert: %1 (%2)").arg(fileName, error), 0);
        return;
    }
    settings.setValue(QStringLiteral("pfad"), fileName);
}
