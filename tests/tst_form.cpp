// The main window's form as the user meets it right after start: every
// widget and action with its class, place, size, texts, fonts and state, the
// menus and the toolbar, and the icons.

#include "mainwindow.h"
#include "portssandbox.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

// One object of the form. A null text means the object shows no text of its
// own; geometry with a negative width means the object has none of its own.
struct FormObject
{
    const char *name;
    const char *className;
    const char *parent;
    int x, y, width, height;
    const char *text;
    const char *toolTip;
    const char *statusTip;
    bool enabled;
    int direction; // -1: inherited, else the Qt::LayoutDirection set on it
};

constexpr int None = -1;
constexpr int Rtl = Qt::RightToLeft;
constexpr int Ltr = Qt::LeftToRight;

// In the order the form creates them.
const FormObject formObjects[] = {
    {"action_Beenden", "QAction", "MainWindow", 0, 0, -1, -1, "&Beenden", "Programm beenden", "",
     true, None},
    {"actiond_holen", "QAction", "MainWindow", 0, 0, -1, -1, "&Lesen", "ext Eeprom Daten auslesen",
     "", true, None},
    {"action_Speichern", "QAction", "MainWindow", 0, 0, -1, -1, "&Speichern",
     "Daten als CSV speichern", "Aufzeichnung als CVS speichern", false, None},
    {"actionVerlauf", "QAction", "MainWindow", 0, 0, -1, -1, "&Verlauf", "Verlauf", "", true, None},
    {"actionMessung", "QAction", "MainWindow", 0, 0, -1, -1, "&Messung ...", "Messung", "",
     true, None},
    {"actionReferenz", "QAction", "MainWindow", 0, 0, -1, -1, "&Referenz setzen", "Referenz setzen",
     "", true, None},
    {"actionGrossanzeige", "QAction", "MainWindow", 0, 0, -1, -1, "&Grossanzeige", "Grossanzeige",
     "", true, None},
    {"centralWidget", "QWidget", "MainWindow", 0, 0, -1, -1, nullptr, "", "", true, None},
    {"tabWidget", "QTabWidget", "centralWidget", 0, -1, 781, 451, nullptr, "", "", false, None},
    {"tab", "QWidget", "tabWidget", 0, 0, -1, -1, "Display", "", "", true, None},
    {"groupBoxpep", "QGroupBox", "tab", 330, 20, 270, 190, "PEP", "", "", true, None},
    {"labelNwattpep", "QLabel", "groupBoxpep", 20, 130, 231, 41, "W", "", "", true, Rtl},
    {"labelNvoltpep", "QLabel", "groupBoxpep", 20, 80, 231, 41, "V", "", "", true, Rtl},
    {"labelNdbmpep", "QLabel", "groupBoxpep", 20, 30, 231, 41, "dBm", "", "", true, Rtl},
    {"groupBoxrms", "QGroupBox", "tab", 30, 20, 270, 190, "AVG/RMS", "", "", true, None},
    {"labelNdbmrms", "QLabel", "groupBoxrms", 20, 30, 231, 41, "dBm", "", "", true, Rtl},
    {"labelNvoltrms", "QLabel", "groupBoxrms", 20, 80, 231, 41, "V", "", "", true, Rtl},
    {"labelNwattrms", "QLabel", "groupBoxrms", 20, 130, 231, 41, "W", "", "", true, Rtl},
    {"groupBox", "QGroupBox", "tab", 30, 230, 571, 131, "Informationen", "", "", true, None},
    {"label_1", "QLabel", "groupBox", 30, 30, 81, 17, "Messkopf:", "", "", true, None},
    {"labeladxx", "QLabel", "groupBox", 120, 30, 91, 20, "ADxxxx", "", "", true, None},
    {"label_2", "QLabel", "groupBox", 30, 50, 71, 17, "Nummer:", "", "", true, None},
    {"labelmknr", "QLabel", "groupBox", 120, 50, 21, 17, "xx", "", "", true, None},
    {"label_4", "QLabel", "groupBox", 30, 70, 81, 17, "dBm Max:", "", "", true, None},
    {"labeldbm", "QLabel", "groupBox", 120, 70, 67, 17, "xx dBm", "", "", true, None},
    {"label_3", "QLabel", "groupBox", 240, 30, 201, 30, "Attenuator: ", "", "", true, None},
    {"labelattdb", "QLabel", "groupBox", 460, 30, 151, 30, "xx dB", "", "", true, None},
    {"labelzsatz", "QLabel", "groupBox", 240, 70, 261, 17, "", "", "", true, None},
    {"labelKorrektur", "QLabel", "tab", 30, 368, 721, 17, "", "", "", true, None},
    {"tab_2", "QWidget", "tabWidget", 0, 0, -1, -1, "Daten", "", "", true, None},
    {"textBrowser", "QTextBrowser", "tab_2", 5, 51, 761, 371, nullptr, "", "", true, Ltr},
    {"labeltime", "QLabel", "tab_2", 190, 20, 67, 17, "Startzeit", "", "", true, None},
    {"labelsek", "QLabel", "tab_2", 360, 10, 200, 17, "", "", "", true, None},
    {"labelanzahl", "QLabel", "tab_2", 360, 30, 200, 17, "", "", "", true, None},
    {"timeEdit", "QTimeEdit", "tab_2", 260, 15, 91, 27, nullptr, "", "", true, None},
    {"Buttonrefresh", "QPushButton", "tab_2", 100, 15, 71, 28, "Refresh",
     "Neu Startzeit uebertragen", "", false, None},
    {"menuBar", "QMenuBar", "MainWindow", 0, 0, 773, 25, nullptr, "", "", true, None},
    {"menuDatei", "QMenu", "menuBar", 0, 0, -1, -1, "&Datei", "", "", true, None},
    {"menuOption", "QMenu", "menuBar", 0, 0, -1, -1, "&Option", "", "", true, None},
    {"menuExt_Eeprom", "QMenu", "menuBar", 0, 0, -1, -1, "&Aufzeichnung", "", "", true, None},
    {"mainToolBar", "QToolBar", "MainWindow", 0, 0, -1, -1, nullptr, "", "", true, None},
    {"statusBar", "QStatusBar", "MainWindow", 0, 0, -1, -1, nullptr, "", "", true, None},
};

// The text an object shows: an action's or button's text, a group box's or
// menu's title, a page's tab text.
QString shownText(QObject *object)
{
    if (auto *action = qobject_cast<QAction *>(object))
        return action->text();
    if (auto *box = qobject_cast<QGroupBox *>(object))
        return box->title();
    if (auto *menu = qobject_cast<QMenu *>(object))
        return menu->title();
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    auto *widget = qobject_cast<QWidget *>(object);
    QWidget *up = widget ? widget->parentWidget() : nullptr;
    if (auto *tabs = up ? qobject_cast<QTabWidget *>(up->parentWidget()) : nullptr)
        return tabs->tabText(tabs->indexOf(widget));
    return QString();
}

// The tab widget a page belongs to (its Qt parent is the tab widget's stack).
QTabWidget *tabWidgetOf(QWidget *page)
{
    QWidget *stack = page->parentWidget();
    auto *tabs = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

// Runs a window constructed in a given working directory and goes back.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QString &path) : old(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~WorkingDirectory() { QDir::setCurrent(old); }

private:
    QString old;
};

// Pixmaps keep their pixels premultiplied: compare in that form.
QImage premultiplied(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void objects_data();
    void objects();
    void creationOrder();
    void widgetsStayPutWhenResized();
    void window();
    void otherProperties();
    void fonts_data();
    void fonts();
    void palette_data();
    void palette();
    void menus();
    void toolbar();
    void saveActionTips();
    void actionIcons_data();
    void actionIcons();
    void windowIconFromWorkingDirectory_data();
    void windowIconFromWorkingDirectory();
    void beendenClosesTheWindow_data();
    void beendenClosesTheWindow();
    void refreshButtonConnectedByName();

private:
    template <typename T = QObject> T *find(const char *name) const
    {
        return mainWindow->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<PortsSandbox> sandbox;
    std::unique_ptr<MainWindow> mainWindow;
};

void TestForm::init()
{
    sandbox = std::make_unique<PortsSandbox>();
    mainWindow = std::make_unique<MainWindow>();
}

void TestForm::cleanup()
{
    mainWindow.reset();
    sandbox.reset();
}

void TestForm::objects_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(formObjects)); ++i)
        QTest::newRow(formObjects[i].name) << i;
}

void TestForm::objects()
{
    QFETCH(int, row);
    const FormObject &expected = formObjects[row];

    const QList<QObject *> found = mainWindow->findChildren<QObject *>(expected.name);
    QCOMPARE(found.size(), 1);
    QObject *object = found.first();
    QCOMPARE(object->metaObject()->className(), expected.className);

    auto *widget = qobject_cast<QWidget *>(object);
    auto *action = qobject_cast<QAction *>(object);
    QVERIFY(widget || action);

    // Place in the tree: pages sit in their tab widget's stack.
    if (QByteArrayView(expected.parent) == "tabWidget") {
        QCOMPARE(tabWidgetOf(widget), find<QTabWidget>("tabWidget"));
    } else {
        QVERIFY(object->parent());
        QCOMPARE(object->parent()->objectName(), QLatin1String(expected.parent));
    }

    if (expected.width >= 0)
        QCOMPARE(widget->geometry(),
                 QRect(expected.x, expected.y, expected.width, expected.height));

    if (expected.text)
        QCOMPARE(shownText(object), QString::fromUtf8(expected.text));
    const QString toolTip = action ? action->toolTip() : widget->toolTip();
    QCOMPARE(toolTip, QString::fromUtf8(expected.toolTip));
    const QString statusTip = action ? action->statusTip() : widget->statusTip();
    QCOMPARE(statusTip, QString::fromUtf8(expected.statusTip));

    // A widget's own state; being inside the disabled tab widget does not count.
    const bool enabled =
        action ? action->isEnabled() : !widget->testAttribute(Qt::WA_ForceDisabled);
    QCOMPARE(enabled, expected.enabled);

    if (widget) {
        QCOMPARE(widget->testAttribute(Qt::WA_SetLayoutDirection), expected.direction != None);
        if (expected.direction != None)
            QCOMPARE(int(widget->layoutDirection()), expected.direction);
        else
            QCOMPARE(widget->layoutDirection(), Qt::LeftToRight);
    } else {
        // Only "Verlauf", "Referenz setzen" and "Grossanzeige" have shortcuts.
        const QHash<QByteArray, QString> shortcuts{{"actionVerlauf", "Ctrl+T"},
                                                   {"actionReferenz", "Ctrl+R"},
                                                   {"actionGrossanzeige", "Ctrl+G"}};
        QCOMPARE(action->shortcut(), QKeySequence(shortcuts.value(expected.name)));
    }
}

void TestForm::creationOrder()
{
    // Children keep the order they were created in (pages: the tab order).
    QHash<QString, QStringList> expected;
    for (const FormObject &object : formObjects)
        expected[QLatin1String(object.parent)] << QLatin1String(object.name);

    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QStringList actual;
        if (it.key() == QLatin1String("tabWidget")) {
            auto *tabs = find<QTabWidget>("tabWidget");
            for (int i = 0; i < tabs->count(); ++i)
                actual << tabs->widget(i)->objectName();
        } else {
            QObject *parent = it.key() == QLatin1String("MainWindow")
                                  ? mainWindow.get()
                                  : mainWindow->findChild<QObject *>(it.key());
            QVERIFY2(parent, qPrintable(it.key()));
            for (QObject *child : parent->children()) {
                if (it.value().contains(child->objectName()))
                    actual << child->objectName();
            }
        }
        QCOMPARE(actual, it.value());
    }
}

void TestForm::widgetsStayPutWhenResized()
{
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    mainWindow->resize(1200, 900);
    QApplication::processEvents();
    mainWindow->showMaximized();
    QApplication::processEvents();

    for (const FormObject &expected : formObjects) {
        if (expected.width < 0 || QByteArrayView(expected.name) == "menuBar")
            continue; // the menu bar is the window's to place
        auto *widget = find<QWidget>(expected.name);
        QCOMPARE(widget->geometry(),
                 QRect(expected.x, expected.y, expected.width, expected.height));
    }
}

void TestForm::window()
{
    QCOMPARE(mainWindow->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(mainWindow->size(), QSize(773, 504));
    QCOMPARE(mainWindow->windowTitle(), QStringLiteral("MainWindow"));
    QVERIFY(mainWindow->isEnabled());
    QCOMPARE(mainWindow->centralWidget(), find<QWidget>("centralWidget"));
    QCOMPARE(mainWindow->menuBar(), find<QMenuBar>("menuBar"));
    QCOMPARE(mainWindow->statusBar(), find<QStatusBar>("statusBar"));
    QCOMPARE(mainWindow->toolBarArea(find<QToolBar>("mainToolBar")), Qt::TopToolBarArea);

    // Before the meter is found the whole tab area is greyed out and the
    // "Display" page is in front.
    auto *tabs = find<QTabWidget>("tabWidget");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->currentWidget(), find<QWidget>("tab"));
    QCOMPARE(tabs->count(), 2);
    for (const char *name : {"labelNdbmrms", "labeladxx", "Buttonrefresh", "timeEdit"})
        QVERIFY2(!find<QWidget>(name)->isEnabled(), name);
}

void TestForm::otherProperties()
{
    for (const char *name : {"groupBoxpep", "groupBoxrms"}) {
        auto *box = find<QGroupBox>(name);
        QCOMPARE(box->alignment(), int(Qt::AlignRight | Qt::AlignVCenter));
        QVERIFY(!box->isFlat());
        QVERIFY(!box->isCheckable());
    }
    QCOMPARE(find<QGroupBox>("groupBox")->alignment(), int(Qt::AlignLeft));
    QCOMPARE(find<QTextBrowser>("textBrowser")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    auto *timeEdit = find<QTimeEdit>("timeEdit");
    QCOMPARE(timeEdit->displayFormat(), QStringLiteral("HH:mm:ss"));
    timeEdit->setTime(QTime(17, 5, 9));
    QCOMPARE(timeEdit->text(), QStringLiteral("17:05:09"));
}

void TestForm::fonts_data()
{
    // Expected font attributes; an empty family, -1 or "inherit" means the
    // attribute is not set on the widget and follows its parent.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("italic");

    const int inherit = -1;
    const int bold = QFont::Bold;
    const int normal = QFont::Normal;
    const struct
    {
        const char *name;
        const char *family;
        int pointSize, weight, italic;
    } rows[] = {
        {"groupBoxpep", "", 16, bold, inherit},
        {"groupBoxrms", "", 16, bold, inherit},
        {"labelNwattpep", "", 28, normal, inherit},
        {"labelNvoltpep", "", 28, normal, inherit},
        {"labelNvoltrms", "", 28, normal, inherit},
        {"labelNwattrms", "", 28, normal, inherit},
        {"labelNdbmpep", "Arial", 28, normal, 0},
        {"labelNdbmrms", "Arial", 28, normal, inherit},
        {"groupBox", "", inherit, normal, inherit},
        {"label_1", "", inherit, bold, inherit},
        {"label_2", "", inherit, bold, inherit},
        {"label_4", "", inherit, bold, inherit},
        {"label_3", "", 22, bold, inherit},
        {"labelattdb", "", 22, inherit, inherit},
        {"labeladxx", "", inherit, inherit, inherit},
        {"labelmknr", "", inherit, inherit, inherit},
        {"labeldbm", "", inherit, inherit, inherit},
        {"labelzsatz", "", inherit, inherit, inherit},
        {"tab", "", inherit, inherit, inherit},
        {"tab_2", "", inherit, inherit, inherit},
        {"textBrowser", "", inherit, inherit, inherit},
        {"labeltime", "", inherit, inherit, inherit},
        {"labelsek", "", inherit, inherit, inherit},
        {"labelanzahl", "", inherit, inherit, inherit},
        {"timeEdit", "", inherit, inherit, inherit},
        {"Buttonrefresh", "", inherit, inherit, inherit},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << QString::fromLatin1(row.family)
                                << row.pointSize << row.weight << row.italic;
}

void TestForm::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);
    QFETCH(int, italic);

    // A window font unlike any the form sets: what a widget does not set
    // itself must come from its parent, what it sets must stay.
    QFont probe(QStringLiteral("Tavrold Probe Sans"));
    probe.setPointSize(13);
    probe.setWeight(QFont::Light);
    probe.setItalic(true);
    mainWindow->setFont(probe);

    auto *widget = mainWindow->findChild<QWidget *>(name);
    QVERIFY(widget);
    const QFont font = widget->font();
    const QFont parent = widget->parentWidget()->font();
    const bool setsFont = !family.isEmpty() || pointSize >= 0 || weight >= 0 || italic >= 0;
    QCOMPARE(widget->testAttribute(Qt::WA_SetFont), setsFont);

    QCOMPARE(font.family(), family.isEmpty() ? parent.family() : family);
    QCOMPARE(font.pointSize(), pointSize < 0 ? parent.pointSize() : pointSize);
    QCOMPARE(int(font.weight()), weight < 0 ? int(parent.weight()) : weight);
    QCOMPARE(font.italic(), italic < 0 ? parent.italic() : italic != 0);
}

void TestForm::palette_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("role");
    QTest::addColumn<QColor>("colour");

    const QColor red(255, 0, 0, 255);
    const QColor black(0, 0, 0, 255);
    const QColor grey(118, 118, 117, 255);
    QTest::newRow("active window text")
        << int(QPalette::Active) << int(QPalette::WindowText) << red;
    QTest::newRow("active text") << int(QPalette::Active) << int(QPalette::Text) << black;
    QTest::newRow("inactive window text")
        << int(QPalette::Inactive) << int(QPalette::WindowText) << red;
    QTest::newRow("inactive text") << int(QPalette::Inactive) << int(QPalette::Text) << black;
    QTest::newRow("disabled window text")
        << int(QPalette::Disabled) << int(QPalette::WindowText) << grey;
    QTest::newRow("disabled text") << int(QPalette::Disabled) << int(QPalette::Text) << grey;
}

void TestForm::palette()
{
    QFETCH(int, group);
    QFETCH(int, role);
    QFETCH(QColor, colour);

    // Only the recording-status label has a palette of its own.
    for (const FormObject &object : formObjects) {
        if (auto *widget = find<QWidget>(object.name)) {
            QCOMPARE(widget->testAttribute(Qt::WA_SetPalette),
                     QByteArrayView(object.name) == "labelzsatz");
        }
    }

    const QBrush brush = find<QLabel>("labelzsatz")
                             ->palette()
                             .brush(QPalette::ColorGroup(group), QPalette::ColorRole(role));
    QCOMPARE(brush.style(), Qt::SolidPattern);
    QCOMPARE(brush.color(), colour);
}

void TestForm::menus()
{
    auto *bar = find<QMenuBar>("menuBar");
    auto *datei = find<QMenu>("menuDatei");
    auto *option = find<QMenu>("menuOption");
    auto *aufzeichnung = find<QMenu>("menuExt_Eeprom");

    const QList<QAction *> titles{datei->menuAction(), option->menuAction(),
                                  aufzeichnung->menuAction()};
    QCOMPARE(bar->actions(), titles);
    QCOMPARE(datei->actions(), QList<QAction *>{find<QAction>("action_Beenden")});
    const QList<QAction *> options{find<QAction>("actionVerlauf"), find<QAction>("actionMessung"),
                                   find<QAction>("actionReferenz"),
                                   find<QAction>("actionGrossanzeige")};
    QCOMPARE(option->actions(), options);
    const QList<QAction *> recording{find<QAction>("actiond_holen"),
                                     find<QAction>("action_Speichern")};
    QCOMPARE(aufzeichnung->actions(), recording);
}

void TestForm::toolbar()
{
    const QList<QAction *> actions = find<QToolBar>("mainToolBar")->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions.at(0), find<QAction>("action_Beenden"));
    QVERIFY(actions.at(1)->isSeparator());
    QCOMPARE(actions.at(2), find<QAction>("actiond_holen"));
    QCOMPARE(actions.at(3), find<QAction>("action_Speichern"));
}

void TestForm::saveActionTips()
{
    // Once enabled, "&Speichern" shows its tool tip on the toolbar and its
    // status tip in the status bar.
    auto *save = find<QAction>("action_Speichern");
    auto *toolBar = find<QToolBar>("mainToolBar");
    save->setEnabled(true);
    auto *button = qobject_cast<QToolButton *>(toolBar->widgetForAction(save));
    QVERIFY(button);
    QVERIFY(button->isEnabled());
    QCOMPARE(button->toolTip(), QStringLiteral("Daten als CSV speichern"));
    QVERIFY(save->showStatusText(toolBar));
    QCOMPARE(find<QStatusBar>("statusBar")->currentMessage(),
             QStringLiteral("Aufzeichnung als CVS speichern"));
}

void TestForm::actionIcons_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("resource");
    QTest::newRow("Beenden") << "action_Beenden"
                             << ":/images/beenden.png";
    QTest::newRow("Lesen") << "actiond_holen"
                           << ":/images/copy.png";
    QTest::newRow("Speichern") << "action_Speichern"
                               << ":/images/save.png";
}

void TestForm::actionIcons()
{
    QFETCH(QString, action);
    QFETCH(QString, resource);

    // The pictures are built into the program: 32 x 32 RGBA.
    const QImage picture(resource);
    QCOMPARE(picture.size(), QSize(32, 32));
    QVERIFY(picture.hasAlphaChannel());

    // Not read from the working directory: there is nothing there.
    QTemporaryDir empty;
    WorkingDirectory inEmptyFolder(empty.path());
    PortsSandbox ownSandbox;
    MainWindow window;
    const QIcon icon = window.findChild<QAction *>(action)->icon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    QCOMPARE(premultiplied(icon.pixmap(QSize(32, 32)).toImage()), premultiplied(picture));
}

void TestForm::windowIconFromWorkingDirectory_data()
{
    QTest::addColumn<bool>("iconFileThere");
    QTest::newRow("images/appicon.ico present") << true;
    QTest::newRow("no images folder") << false;
}

void TestForm::windowIconFromWorkingDirectory()
{
    QFETCH(bool, iconFileThere);

    // The bundle carries the icon too, but the window takes it from the
    // working directory only.
    const QImage bundled(QStringLiteral(":/images/appicon.ico"));
    QCOMPARE(bundled.size(), QSize(50, 50));

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (iconFileThere) {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("images")));
        QVERIFY(QFile::copy(QStringLiteral(TAVROLD_SOURCE_DIR "/images/appicon.ico"),
                            folder.path() + QStringLiteral("/images/appicon.ico")));
    }

    std::unique_ptr<MainWindow> window;
    {
        WorkingDirectory there(folder.path());
        window = std::make_unique<MainWindow>();
    }
    const QIcon icon = window->windowIcon();
    if (iconFileThere) {
        QVERIFY(!icon.isNull());
        QCOMPARE(premultiplied(icon.pixmap(QSize(50, 50)).toImage()), premultiplied(bundled));
    } else {
        // Qt keeps an icon made from a missing file, but it holds no picture.
        QVERIFY(icon.availableSizes().isEmpty());
        QVERIFY(icon.pixmap(QSize(50, 50)).isNull());
    }
}

void TestForm::beendenClosesTheWindow_data()
{
    QTest::addColumn<bool>("fromToolbar");
    QTest::newRow("menu action") << false;
    QTest::newRow("toolbar button") << true;
}

void TestForm::beendenClosesTheWindow()
{
    QFETCH(bool, fromToolbar);

    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    auto *beenden = find<QAction>("action_Beenden");
    if (fromToolbar) {
        QWidget *button = find<QToolBar>("mainToolBar")->widgetForAction(beenden);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        beenden->trigger();
    }
    QVERIFY(!mainWindow->isVisible());
}

void TestForm::refreshButtonConnectedByName()
{
    // Exactly one connection: a second would build the listing twice.
    auto *button = find<QPushButton>("Buttonrefresh");
    QVERIFY(QObject::disconnect(button, SIGNAL(clicked()), mainWindow.get(),
                                SLOT(on_Buttonrefresh_clicked())));
    QVERIFY(!QObject::disconnect(button, SIGNAL(clicked()), mainWindow.get(),
                                 SLOT(on_Buttonrefresh_clicked())));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
