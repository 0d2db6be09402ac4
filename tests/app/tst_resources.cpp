// Loads the compiled-in resource tree the way the panel does: icons through Qt's image plugins,
// fonts through the font database, theme style sheets and their images through the style engine.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QResource>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

struct ThemePalette {
    const char* theme;
    const char* accent;
    const char* selection;
    const char* backgrounds[3];
    const char* text;
};

// The palettes every theme must carry; the first background is the window's, the second the
// input fields'.
const ThemePalette kPalettes[] = {
    {"dark_teal", "#1de9b6", "#6effe8", {"#31363b", "#232629", "#4f5b62"}, "#ffffff"},
    {"dark_amber", "#ffd740", "#ffff74", {"#31363b", "#232629", "#4f5b62"}, "#ffffff"},
    {"dark_cyan", "#4dd0e1", "#88ffff", {"#31363b", "#232629", "#4f5b62"}, "#ffffff"},
    {"light_blue", "#2979ff", "#75a7ff", {"#e6e6e6", "#f5f5f5", "#ffffff"}, "#555555"},
};

const char* const kIcons[] = {
    ":/icons/connected-icon-16.png",        ":/icons/disconnected-icon-16.png",
    ":/icons/connected-icon-24.png",        ":/icons/disconnected-icon-24.png",
    ":/icons/icons/connected-icon-256.png", ":/icons/icons/disconnected-icon-256.png",
    ":/icons/icons/10384113.png",           ":/icons/icons/6147497.png",
    ":/icons/icons/audio-jack.png",         ":/icons/icons/cog.png",
    ":/icons/icons/no-sound.png",           ":/icons/icons/office-13-256.webp",
    ":/icons/icons/preferences.png",        ":/icons/icons/sync-alt.png",
    ":/icons/icons/volume-slash.png",       ":/icons/icons/volume.png"};

// Every theme's image folders hold these, in this (name) order.
QStringList themeImages() {
    QStringList names;
    for (const QString& name :
         QString("branch-closed branch-end branch-more branch-open checkbox_checked "
                 "checkbox_checked_invert checkbox_indeterminate checkbox_indeterminate_invert "
                 "checkbox_unchecked checkbox_unchecked_invert checklist "
                 "checklist_indeterminate checklist_indeterminate_invert checklist_invert close "
                 "downarrow downarrow2 float leftarrow leftarrow2 radiobutton_checked "
                 "radiobutton_checked_invert radiobutton_unchecked radiobutton_unchecked_invert "
                 "rightarrow rightarrow2 sizegrip slider splitter-horizontal splitter-vertical "
                 "tab_close toolbar-handle-horizontal toolbar-handle-vertical uparrow uparrow2 "
                 "vline")
             .split(' '))
        names << name + ".svg";
    return names;
}

// One row per theme; a test reads its palette from kPalettes by the row's index.
void paletteRows() {
    QTest::addColumn<int>("palette");
    for (int i = 0; i < int(std::size(kPalettes)); ++i)
        QTest::newRow(kPalettes[i].theme) << i;
}

QByteArray readResource(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList referencedImages(const QString& sheet) {
    static const QRegularExpression url(R"(url\((:/[^)]*)\))");
    QStringList paths;
    for (auto it = url.globalMatch(sheet); it.hasNext();)
        paths << it.next().captured(1);
    paths.removeDuplicates();
    return paths;
}

// The colours of the image's fully opaque pixels.
QSet<QRgb> opaqueColours(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) == 255)
                colours.insert(argb.pixel(x, y));
    return colours;
}

QStringList collectedWarnings;

void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg)
        collectedWarnings << message;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void iconsLoad_data() {
        QTest::addColumn<QString>("path");
        for (const char* path : kIcons)
            QTest::newRow(path) << QString(path);
    }

    void iconsLoad() {
        QFETCH(QString, path);
        const QPixmap pixmap(path);
        QVERIFY2(!pixmap.isNull(), qPrintable(path));
        QCOMPARE(pixmap.width(), pixmap.height());
        static const QRegularExpression sizeInName(R"(-(\d+)\.\w+$)");
        const auto size = sizeInName.match(path);
        if (size.hasMatch())
            QCOMPARE(pixmap.width(), size.captured(1).toInt());
        QVERIFY2(!opaqueColours(pixmap.toImage()).isEmpty(), "the icon is blank");
    }

    void fontsRegisterAsRoboto_data() {
        QTest::addColumn<QString>("face");
        for (const char* face : {"Regular", "Bold", "Medium", "Italic"})
            QTest::newRow(face) << QString(face);
    }

    void fontsRegisterAsRoboto() {
        QFETCH(QString, face);
        const QString path = QString(":/fonts/Roboto-%1.ttf").arg(face);
        const int id = QFontDatabase::addApplicationFont(path);
        QVERIFY2(id >= 0, qPrintable(path));
        QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{"Roboto"});
        const QRawFont raw(readResource(path), 13);
        QVERIFY(raw.isValid());
        QCOMPARE(raw.styleName(), face);
    }

    void themeSheets_data() { paletteRows(); }
    void themeSheets() {
        QFETCH(int, palette);
        const ThemePalette& p = kPalettes[palette];
        const QString theme = p.theme;
        const QString path = ":/themes/" + theme + ".qss";
        const QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::ZlibCompression);

        const QByteArray bytes = readResource(path);
        QVERIFY2(std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0; }),
                 "the sheet is read as Latin-1 and must stay plain ASCII");
        const QString sheet = QString::fromLatin1(bytes);
        for (const char* colour :
             {p.accent, p.selection, p.backgrounds[0], p.backgrounds[1], p.backgrounds[2], p.text})
            QVERIFY2(sheet.contains(colour, Qt::CaseInsensitive), colour);
        for (const char* rule :
             {R"(\*\s*\{[^}]*font-family:\s*Roboto;)", R"(\*\s*\{[^}]*font-size:\s*13px;)",
              R"(\.danger\s*\{\s*color:\s*#dc3545;\s*\})",
              R"(\.warning\s*\{\s*color:\s*#ffc107;\s*\})",
              R"(\.success\s*\{\s*color:\s*#17a2b8;\s*\})"})
            QVERIFY2(sheet.contains(QRegularExpression(rule)), rule);
        QVERIFY2(!sheet.contains('@'), "a template placeholder was left unfilled");

        const QStringList images = referencedImages(sheet);
        QVERIFY(images.size() >= themeImages().size());
        for (const QString& image : images) {
            QVERIFY2(image.startsWith(":/icons/theme/" + theme + "/") ||
                         image.startsWith(":/icons/theme/disabled/"),
                     qPrintable("another theme's image: " + image));
            QVERIFY2(!QImage(image).isNull(), qPrintable("does not render: " + image));
        }

        // The images take the theme's colours; the disabled ones are grey for every theme.
        QVERIFY(opaqueColours(QImage(":/icons/theme/" + theme + "/primary/slider.svg"))
                    .contains(QColor(p.accent).rgb()));
        QVERIFY(opaqueColours(QImage(":/icons/theme/" + theme + "/active/slider.svg"))
                    .contains(QColor(p.text).rgb()));
        QVERIFY(!opaqueColours(QImage(":/icons/theme/disabled/slider.svg"))
                     .contains(QColor(p.accent).rgb()));
    }

    void imageFoldersHoldTheSameImages() {
        QStringList folders{"disabled"};
        for (const ThemePalette& p : kPalettes)
            folders << QString(p.theme) + "/active" << QString(p.theme) + "/primary";
        for (const QString& folder : folders) {
            const QDir dir(":/icons/theme/" + folder);
            QCOMPARE(dir.entryList(QDir::Files, QDir::Name), themeImages());
            for (const QString& name : themeImages())
                QVERIFY2(!opaqueColours(QImage(dir.filePath(name))).isEmpty(),
                         qPrintable(folder + "/" + name + " is blank"));
        }
        const QImage disabled(":/icons/theme/disabled/slider.svg");
        const QColor grey = disabled.pixelColor(disabled.rect().center());
        QCOMPARE(grey.alpha(), 255);
        QVERIFY2(grey.red() == grey.green() && grey.green() == grey.blue(), "not a grey");
    }

    void sheetsStyleThePanelWidgets_data() { paletteRows(); }
    void sheetsStyleThePanelWidgets() {
        QFETCH(int, palette);
        const ThemePalette& p = kPalettes[palette];
        collectedWarnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        qApp->setStyleSheet(
            QString::fromLatin1(readResource(QString(":/themes/%1.qss").arg(p.theme))));

        // One of each kind of widget the panel shows.
        QMainWindow mainWindow;
        auto* central = new QWidget(&mainWindow);
        auto* layout = new QVBoxLayout(central);
        auto* combo = new QComboBox(central);
        combo->addItems({"Line In (UMX VAC)", "Speakers"});
        auto* tool = new QToolButton(central);
        tool->setPopupMode(QToolButton::MenuButtonPopup);
        tool->setMenu(new QMenu(tool));
        tool->menu()->addAction("Settings");
        auto* push = new QPushButton("Connect to RIG", central);
        push->setCheckable(true);
        push->setChecked(true);
        auto* group = new QGroupBox("RX buffer", central);
        auto* groupLayout = new QHBoxLayout(group);
        groupLayout->addWidget(new QRadioButton("Auto", group));
        groupLayout->addWidget(new QCheckBox("Use predefined UMX devices", group));
        auto* spin = new QSpinBox(central);
        spin->setRange(100, 65535);
        auto* edit = new QLineEdit(central);
        auto* danger = new QLabel("Connection lost", central);
        danger->setProperty("class", "danger");
        auto* scroll = new QScrollArea(central);
        auto* tall = new QLabel("rigs", scroll);
        tall->setMinimumSize(600, 600);
        scroll->setWidget(tall);
        scroll->setFixedSize(120, 80);
        for (QWidget* w :
             std::initializer_list<QWidget*>{combo, tool, push, group, spin, edit, danger, scroll})
            layout->addWidget(w);
        mainWindow.setCentralWidget(central);
        mainWindow.statusBar()->addWidget(new QLabel("RX: 0 kbps", mainWindow.statusBar()));
        mainWindow.show();
        QMessageBox box(QMessageBox::Warning, "UMX control panel 1.5.2", "Connection lost.",
                        QMessageBox::Ok);
        box.show();
        const bool exposed = QTest::qWaitForWindowExposed(&mainWindow);
        const QImage windowImage = mainWindow.grab().toImage();
        const QImage editImage = edit->grab().toImage();
        const QColor dangerColour = danger->palette().color(QPalette::WindowText);
        const QFont dangerFont = danger->font();
        box.close();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());

        QVERIFY(exposed);
        QVERIFY2(collectedWarnings.isEmpty(), qPrintable(collectedWarnings.join('\n')));
        QCOMPARE(windowImage.pixelColor(1, 1), QColor(p.backgrounds[0]));
        QCOMPARE(editImage.pixelColor(editImage.width() / 2, 2), QColor(p.backgrounds[1]));
        QCOMPARE(dangerColour, QColor("#dc3545"));
        QCOMPARE(dangerFont.family(), QString("Roboto"));
        QCOMPARE(dangerFont.pixelSize(), 13);
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
