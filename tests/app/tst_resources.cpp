// SPDX-License-Identifier: GPL-3.0-or-later
// The compiled-in resources as the windows load them: icons through Qt's image plugins, fonts
// through the font database, theme style sheets and their images through the style engine.
#include "umxthemes.h"

#include <QtTest>
#include <QtWidgets>

static QStringList qtMessages;

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void iconsAndFontsLoad() {
        for (const char* icon :
             {"connected-icon-16.png", "disconnected-icon-16.png", "icons/cog.png",
              "icons/connected-icon-256.png", "icons/disconnected-icon-256.png",
              "icons/10384113.png", "icons/volume.png", "icons/volume-slash.png",
              "icons/sync-alt.png", "icons/office-13-256.webp"})
            QVERIFY2(!QIcon(QString(":/icons/") + icon).pixmap(64).isNull(), icon);
        for (const char* face : {"Regular", "Bold", "Medium", "Italic"})
            QCOMPARE(QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(
                         QString(":/fonts/Roboto-%1.ttf").arg(face))),
                     QStringList{"Roboto"});
    }

    // Each theme of the palette table has a sheet that styles a widget without a complaint from
    // Qt, every image it names there.
    void themeSheetsApplyCleanly() {
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { qtMessages << text; });
        for (const char* theme : kUmxThemes) {
            QFile file(QString(":/themes/%1.qss").arg(theme));
            QVERIFY2(file.open(QIODevice::ReadOnly), theme);
            const QString sheet = QString::fromLatin1(file.readAll());
            qApp->setStyleSheet(sheet);
            for (const QString& url : sheet.split("url(").mid(1))
                QVERIFY2(!QImage(url.section(')', 0, 0)).isNull(),
                         qPrintable(url.section(')', 0, 0)));
            QComboBox().grab();
            // The text classes stand apart from plain text and from each other.
            QSet<QRgb> colours;
            for (const char* textClass : {"", "danger", "warning", "success"}) {
                QLabel label;
                label.setProperty("class", textClass);
                colours << (label.ensurePolished(),
                            label.palette().color(QPalette::WindowText).rgb());
            }
            QVERIFY2(colours.size() == 4, theme);
        }
        qInstallMessageHandler(nullptr);
        QVERIFY2(qtMessages.isEmpty(), qPrintable(qtMessages.join('\n')));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
