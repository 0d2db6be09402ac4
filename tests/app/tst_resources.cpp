// Loads the compiled-in resource tree the way the panel does: icons through Qt's image plugins,
// fonts through the font database, theme style sheets and their images through the style engine.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QRegularExpression>
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
    ":/icons/connected-icon-16.png",
    ":/icons/disconnected-icon-16.png",
    ":/icons/icons/connected-icon-256.png",
    ":/icons/icons/disconnected-icon-256.png",
    ":/icons/icons/10384113.png",
    ":/icons/icons/cog.png",
    ":/icons/icons/volume.png",
    ":/icons/icons/volume-slash.png",
    ":/icons/icons/sync-alt.png",
    ":/icons/icons/office-13-256.webp",
    ":/icons/connected-icon-24.png",
    ":/icons/disconnected-icon-24.png",
    ":/icons/icons/audio-jack.png",
    ":/icons/icons/no-sound.png",
    ":/icons/icons/preferences.png",
    ":/icons/icons/6147497.png",
};

const QStringList kThemeImages = {
    "branch-closed.svg",
    "branch-end.svg",
    "branch-more.svg",
    "branch-open.svg",
    "checkbox_checked.svg",
    "checkbox_checked_invert.svg",
    "checkbox_indeterminate.svg",
    "checkbox_indeterminate_invert.svg",
    "checkbox_unchecked.svg",
    "checkbox_unchecked_invert.svg",
    "checklist.svg",
    "checklist_indeterminate.svg",
    "checklist_indeterminate_invert.svg",
    "checklist_invert.svg",
    "close.svg",
    "downarrow.svg",
    "downarrow2.svg",
    "float.svg",
    "leftarrow.svg",
    "leftarrow2.svg",
    "radiobutton_checked.svg",
    "radiobutton_checked_invert.svg",
    "radiobutton_unchecked.svg",
    "radiobutton_unchecked_invert.svg",
    "rightarrow.svg",
    "rightarrow2.svg",
    "sizegrip.svg",
    "slider.svg",
    "splitter-horizontal.svg",
    "splitter-vertical.svg",
    "tab_close.svg",
    "toolbar-handle-horizontal.svg",
    "toolbar-handle-vertical.svg",
    "uparrow.svg",
    "uparrow2.svg",
    "vline.svg",
};

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

bool hasOpaquePixel(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255)
                return true;
    return false;
}

// Whether any fully opaque pixel of the image has exactly this colour.
bool paintsColour(const QImage& image, const QColor& colour) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) == 255 && QColor(p).rgb() == colour.rgb())
                return true;
        }
    return false;
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
    void imageFormatsAreAvailable() {
        const QList<QByteArray> formats = QImageReader::supportedImageFormats();
        QVERIFY2(formats.contains("webp"), "the WebP image plugin is missing");
        QVERIFY2(formats.contains("svg"), "the SVG image plugin is missing");
    }

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
        QVERIFY2(hasOpaquePixel(pixmap.toImage()), "the icon is blank");
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

    void themeSheets_data() {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QStringList>("colours");
        for (const ThemePalette& p : kPalettes)
            QTest::newRow(p.theme)
                << QString(p.theme)
                << QStringList{p.accent,         p.selection,      p.backgrounds[0],
                               p.backgrounds[1], p.backgrounds[2], p.text};
    }

    void themeSheets() {
        QFETCH(QString, theme);
        QFETCH(QStringList, colours);
        const QString path = QString(":/themes/%1.qss").arg(theme);
        const QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::ZlibCompression);

        const QByteArray bytes = readResource(path);
        QVERIFY(!bytes.contains('\0'));
        QVERIFY2(std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0; }),
                 "the sheet is read as Latin-1 and must stay plain ASCII");
        const QString sheet = QString::fromLatin1(bytes);
        for (const QString& colour : colours)
            QVERIFY2(sheet.contains(colour, Qt::CaseInsensitive), qPrintable(colour));
        QVERIFY(sheet.contains(QRegularExpression(R"(\*\s*\{[^}]*font-family:\s*Roboto;)")));
        QVERIFY(sheet.contains(QRegularExpression(R"(\*\s*\{[^}]*font-size:\s*13px;)")));
        QVERIFY(sheet.contains(QRegularExpression(R"(\.danger\s*\{\s*color:\s*#dc3545;\s*\})")));
        QVERIFY(sheet.contains(QRegularExpression(R"(\.warning\s*\{\s*color:\s*#ffc107;\s*\})")));
        QVERIFY(sheet.contains(QRegularExpression(R"(\.success\s*\{\s*color:\s*#17a2b8;\s*\})")));
        QVERIFY2(!sheet.contains('@'), "a template placeholder was left unfilled");

        const QStringList images = referencedImages(sheet);
        QVERIFY(images.size() >= kThemeImages.size());
        for (const QString& image : images) {
            QVERIFY2(image.startsWith(":/icons/theme/" + theme + "/") ||
                         image.startsWith(":/icons/theme/disabled/"),
                     qPrintable("another theme's image: " + image));
            QVERIFY2(!QImage(image).isNull(), qPrintable("does not render: " + image));
        }
    }

    void imageFoldersHoldTheSameImages() {
        QStringList folders;
        for (const ThemePalette& p : kPalettes)
            folders << QString(p.theme) + "/active" << QString(p.theme) + "/primary";
        folders << "disabled";
        QCOMPARE(folders.size(), 9);
        for (const QString& folder : folders) {
            const QDir dir(":/icons/theme/" + folder);
            QCOMPARE(dir.entryList(QDir::Files, QDir::Name), kThemeImages);
            for (const QString& name : kThemeImages)
                QVERIFY2(hasOpaquePixel(QImage(dir.filePath(name))),
                         qPrintable(folder + "/" + name + " is blank"));
        }
    }

    void themeImagesTakeTheirColours_data() {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QColor>("accent");
        QTest::addColumn<QColor>("text");
        for (const ThemePalette& p : kPalettes)
            QTest::newRow(p.theme) << QString(p.theme) << QColor(p.accent) << QColor(p.text);
    }

    void themeImagesTakeTheirColours() {
        QFETCH(QString, theme);
        QFETCH(QColor, accent);
        QFETCH(QColor, text);
        const QString base = ":/icons/theme/" + theme;
        const QImage primary(base + "/primary/slider.svg");
        const QImage active(base + "/active/slider.svg");
        QVERIFY(paintsColour(primary, accent));
        QVERIFY(paintsColour(active, text));

        const QImage disabled(":/icons/theme/disabled/slider.svg");
        const QColor grey = disabled.pixelColor(disabled.rect().center());
        QCOMPARE(grey.alpha(), 255);
        QVERIFY2(grey.red() == grey.green() && grey.green() == grey.blue(), "not a grey");
        QVERIFY(!paintsColour(disabled, accent));
    }

    void sheetsStyleThePanelWidgets_data() {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("field");
        for (const ThemePalette& p : kPalettes)
            QTest::newRow(p.theme)
                << QString(p.theme) << QColor(p.backgrounds[0]) << QColor(p.backgrounds[1]);
    }

    void sheetsStyleThePanelWidgets() {
        QFETCH(QString, theme);
        QFETCH(QColor, window);
        QFETCH(QColor, field);

        collectedWarnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        qApp->setStyleSheet(QString::fromLatin1(readResource(":/themes/" + theme + ".qss")));

        QMainWindow mainWindow;
        auto* central = new QWidget(&mainWindow);
        auto* layout = new QVBoxLayout(central);
        auto* combo = new QComboBox(central);
        combo->addItems({"Line In (UMX VAC)", "Speakers"});
        layout->addWidget(combo);
        auto* tool = new QToolButton(central);
        tool->setText("Connect");
        tool->setPopupMode(QToolButton::MenuButtonPopup);
        tool->setMenu(new QMenu(tool));
        tool->menu()->addAction("Settings");
        layout->addWidget(tool);
        auto* push = new QPushButton("Connect to RIG", central);
        push->setCheckable(true);
        push->setChecked(true);
        layout->addWidget(push);
        auto* group = new QGroupBox("RX buffer", central);
        auto* groupLayout = new QHBoxLayout(group);
        groupLayout->addWidget(new QRadioButton("Auto", group));
        groupLayout->addWidget(new QCheckBox("Use predefined UMX devices", group));
        layout->addWidget(group);
        auto* spin = new QSpinBox(central);
        spin->setRange(100, 65535);
        layout->addWidget(spin);
        auto* edit = new QLineEdit(central);
        layout->addWidget(edit);
        auto* danger = new QLabel("Connection lost", central);
        danger->setProperty("class", "danger");
        layout->addWidget(danger);
        auto* scroll = new QScrollArea(central);
        auto* tall = new QLabel("rigs", scroll);
        tall->setMinimumSize(600, 600);
        scroll->setWidget(tall);
        scroll->setFixedSize(120, 80);
        layout->addWidget(scroll);
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
        QCOMPARE(windowImage.pixelColor(1, 1), window);
        QCOMPARE(editImage.pixelColor(editImage.width() / 2, 2), field);
        QCOMPARE(dangerColour, QColor("#dc3545"));
        QCOMPARE(dangerFont.family(), QString("Roboto"));
        QCOMPARE(dangerFont.pixelSize(), 13);
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
