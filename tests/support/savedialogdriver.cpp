#include "savedialogdriver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

DialogDriver::DialogDriver(const QString &typedName, std::function<void()> whileOpen)
    : name(typedName), whileOpen(std::move(whileOpen))
{
    connect(&dialogPoll, &QTimer::timeout, this, &DialogDriver::answerDialog);
    connect(&questionPoll, &QTimer::timeout, this, &DialogDriver::answerQuestion);
    dialogPoll.start(10);
    questionPoll.start(10);
    // Never hang the test: whatever modal window is left is closed.
    QTimer::singleShot(20000, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
}

void DialogDriver::answerDialog()
{
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        return;
    dialogPoll.stop();
    seen.shown = true;
    seen.caption = dialog->windowTitle();
    seen.directory = dialog->directory().absolutePath();
    seen.selected = dialog->selectedFiles();
    seen.filters = dialog->nameFilters();
    seen.type = dialog->selectedNameFilter();
    seen.confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite) &&
                             dialog->acceptMode() == QFileDialog::AcceptSave;
    if (whileOpen)
        whileOpen();
    if (name.isEmpty()) {
        dialog->reject();
        return;
    }
    if (!chooseType.isEmpty())
        dialog->selectNameFilter(chooseType);
    QLineEdit *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    // Typing goes to the focused name field of the active dialog, as
    // for a user.
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, name);
    // Typing a path selects the folders it passes through in the file
    // list once the list has loaded them (how far it got depends on the
    // machine's speed); only the name typed counts.
    for (QAbstractItemView *view : dialog->findChildren<QAbstractItemView *>())
        view->clearSelection();
    QCOMPARE(dialog->selectedFiles(), QStringList{QFileInfo(name).absoluteFilePath()});
    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(buttons && buttons->button(QDialogButtonBox::Save));
    buttons->button(QDialogButtonBox::Save)->click();
}

void DialogDriver::answerQuestion()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || !box->button(QMessageBox::Yes))
        return;
    seen.askedToReplace = true;
    box->button(QMessageBox::Yes)->click();
}
