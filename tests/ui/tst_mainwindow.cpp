// The whole window in-process: a temporary settings store, a WebSocket host in the test, UDP audio
// on loopback, the real sound-card layer on the project's audio server, modal boxes answered by the
// test. Timers that would make the suite slow (the 2-second status tick) are driven by invoking
// the window's own slot; the reconnect announcement is read from the status line instead of waited
// through beyond its first second.
#include "hsportaudio.h"
#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "hsvumeter.h"
#include "log.h"
#include "logcapture.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

const QString kCableOut = "Line Volume (2- UMX VAC)";
const QString kCableIn = "Line In (UMX VAC)";

// A host on loopback that answers "localInfo" with "hostInfo" and records what the panel says.
class TestHost : public QObject {
    Q_OBJECT

public:
    TestHost()
        : server("test host", QWebSocketServer::NonSecureMode) {
        listen(0);
        audioIn.bind(QHostAddress::LocalHost, 0);
    }
    bool listen(quint16 port) {
        if (!server.listen(QHostAddress::LocalHost, port))
            return false;
        connect(&server, &QWebSocketServer::newConnection, this, &TestHost::accept,
                Qt::UniqueConnection);
        return true;
    }
    quint16 port() const { return server.serverPort(); }
    QString address() const { return QString("127.0.0.1:%1").arg(port()); }
    QStringList messageNames() const {
        QStringList names;
        for (const QJsonObject& m : messages)
            names << m.value("message").toString();
        return names;
    }
    void describeAgain() {
        for (QWebSocket* socket : std::as_const(clients))
            answer(socket, QString(R"({"message": "localInfo"})"));
    }
    void dropAll() {
        for (QWebSocket* socket : std::as_const(clients))
            socket->abort();
    }
    void stopListening() { server.close(); }

    QList<QJsonObject> messages;
    QList<QWebSocket*> clients;
    QList<int> closeCodes;
    int sampleRate = 48000;
    int frameSize = 512;
    QUdpSocket audioIn;

private slots:
    void accept() {
        while (QWebSocket* socket = server.nextPendingConnection()) {
            clients << socket;
            socket->setParent(this);
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [this, socket](const QString& text) { answer(socket, text); });
            connect(socket, &QWebSocket::disconnected, this, [this, socket] {
                closeCodes << socket->closeCode();
                clients.removeAll(socket);
            });
        }
    }

private:
    void answer(QWebSocket* socket, const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        messages << message;
        if (message.value("message").toString() != "localInfo")
            return;
        QJsonObject info{{"message", "hostInfo"},  {"sampleRate", sampleRate},
                         {"frameSize", frameSize}, {"channel", 2},
                         {"codec", "pcm"},         {"udpInPort", audioIn.localPort()}};
        socket->sendTextMessage(QJsonDocument(info).toJson());
    }

    QWebSocketServer server;
};

// The message box on screen, if any. The main window is window-modal itself, so the active modal
// widget is not always the box.
QMessageBox* openMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Answers the next message box with the given button and remembers its text. The box is caught
// as it is shown, so no poll can miss one that is answered and gone quickly.
class BoxAnswer : public QObject {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button)
        : button(button) {
        qApp->installEventFilter(this);
    }
    QString text;
    QString title;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Show && text.isEmpty()) {
            text = box->text();
            title = box->windowTitle();
            qApp->removeEventFilter(this);
            // Answered once the box's own event loop runs.
            QTimer::singleShot(0, box,
                               [box, button = this->button] { box->button(button)->click(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QMessageBox::StandardButton button;
};

// Handles the settings dialog once it is on screen (filling it reads the sound devices, which
// takes a while on a busy machine).
class DialogAnswer : public QObject {
public:
    explicit DialogAnswer(std::function<void(QDialog*)> handle)
        : handle(std::move(handle)) {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QDialog*>(widget);
                if (dialog && dialog->isVisible() && dialog->windowTitle() == "UMX settings") {
                    timer.stop();
                    this->handle(dialog);
                    return;
                }
            }
        });
        timer.start();
    }

private:
    std::function<void(QDialog*)> handle;
    QTimer timer;
};

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QAction* actionNamed(QWidget* window, const QString& text) {
    for (QAction* action : window->findChildren<QAction*>())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir configDir;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<TestHost> host;
    quint16 panelPort = 0;

    QSettings store() { return QSettings("Hoska", "uMX"); }
    QComboBox* rigBox() { return window->findChild<QComboBox*>("cbRig"); }
    QPushButton* connectButton() { return window->findChild<QPushButton*>("pbConnect"); }
    QString statusText() { return window->findChild<QStatusBar*>("statusBar")->currentMessage(); }
    HSPortAudio* portAudio() { return window->findChild<HSPortAudio*>(); }
    HSSpinner* spinner() { return window->findChild<HSSpinner*>(); }
    void tick() { QMetaObject::invokeMethod(window.get(), "timerSlot"); }
    void received(uint bytes) {
        QMetaObject::invokeMethod(window.get(), "onWorkerBytesReceived", Q_ARG(uint, bytes));
    }

    void seed(const QString& rig, const QString& out = kCableOut, const QString& in = kCableIn) {
        QSettings s = store();
        s.setValue("listRigs", QStringList{rig});
        s.setValue("selectedRig", 0);
        s.setValue("outputDevice", out);
        s.setValue("audioDevice", out);
        s.setValue("inputDevice", in);
        s.setValue("inUDPPort", panelPort);
    }
    void open() {
        window = std::make_unique<MainWindow>();
        // The tests drive the 2-second status tick themselves; on a slow machine the real one
        // could otherwise give a quiet test connection up in the middle of a test.
        for (QTimer* timer : window->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
            if (timer->interval() == 2000)
                timer->stop();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void connectAndWait() {
        connectButton()->click();
        QTRY_VERIFY(host->messageNames().contains("startOutput"));
        QTRY_VERIFY(!spinner());
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    }
    void init() {
        store().clear();
        host = std::make_unique<TestHost>();
        panelPort = freeUdpPort();
    }
    void cleanup() {
        if (window) {
            auto* connect = actionNamed(window.get(), "Connect to RIG");
            if (connect && connect->isChecked())
                connect->setChecked(false);
        }
        window.reset();
        host.reset();
        qApp->setStyleSheet(QString());
    }

    void firstRunDefaultsAreWrittenBackAtExit() {
        open();
        QCOMPARE(window->windowTitle(), QString("UMX control panel 1.5.2"));
        QCOMPARE(rigBox()->count(), 1);
        QCOMPARE(rigBox()->itemText(0), QString());
        QCOMPARE(rigBox()->currentIndex(), -1);
        QVERIFY(!window->findChild<QToolButton*>("tbAudio")->isChecked());
        QCOMPARE(statusText(), QString("Speed: 0/0 KBit|Latency: 0 s"));
        // The window need not be active for this: Xvfb has no window manager to activate it.
        QCOMPARE(window->focusWidget(), static_cast<QWidget*>(connectButton()));
        window.reset();
        QSettings s = store();
        QCOMPARE(s.value("inUDPPort").toInt(), 16742);
        QCOMPARE(s.value("localIP").toString(), QString("127.0.0.1"));
        QCOMPARE(s.value("frameOutMult").toInt(), 1);
        QCOMPARE(s.value("frameInMult").toInt(), 1);
        QCOMPARE(s.value("speakerOn").toBool(), false);
        QCOMPARE(s.value("audioOutMode").toInt(), 0);
        QCOMPARE(s.value("theme").toString(), QString("default"));
        QCOMPARE(s.value("listRigs").toStringList(), QStringList{QString()});
        QCOMPARE(s.value("selectedRig").toInt(), -1);
        QVERIFY(!s.value("geometry").toByteArray().isEmpty());
    }

    void settingsRoundTrip() {
        {
            QSettings s = store();
            s.setValue("speakerOn", true);
            s.setValue("frameOutMult", 4);
            s.setValue("frameInMult", 3);
            s.setValue("settingsUsePredefinedDevice", true);
            s.setValue("listRigs", QStringList{"10.0.0.1:4590", "10.0.0.2:4590"});
            s.setValue("selectedRig", 1);
            s.setValue("outputDevice", "Out");
            s.setValue("inputDevice", "In");
            s.setValue("audioDevice", "Speaker");
            s.setValue("inUDPPort", 70000);
            s.setValue("localIP", "10.0.0.9");
            s.setValue("audioOutMode", 2);
            s.setValue("theme", "dark_cyan");
        }
        open();
        QCOMPARE(rigBox()->currentText(), QString("10.0.0.2:4590"));
        QVERIFY(window->findChild<QToolButton*>("tbAudio")->isChecked());
        QVERIFY(actionNamed(window.get(), "Speaker")->isChecked());
        QVERIFY(actionNamed(window.get(), "RX2")->isChecked());
        QVERIFY(!actionNamed(window.get(), "RX1")->isChecked());
        QVERIFY(!actionNamed(window.get(), "RX1+RX2")->isChecked());
        QCOMPARE(portAudio()->audioOutMode, 2);
        QCOMPARE(portAudio()->frameOutMult, 4);
        QCOMPARE(portAudio()->frameInMult, 3);
        window.reset();
        QSettings s = store();
        QCOMPARE(s.value("inUDPPort").toInt(), 4464);
        QCOMPARE(s.value("speakerOn").toBool(), true);
        QCOMPARE(s.value("frameOutMult").toInt(), 4);
        QCOMPARE(s.value("frameInMult").toInt(), 3);
        QCOMPARE(s.value("settingsUsePredefinedDevice").toBool(), true);
        QCOMPARE(s.value("listRigs").toStringList(),
                 QStringList({"10.0.0.1:4590", "10.0.0.2:4590"}));
        QCOMPARE(s.value("selectedRig").toInt(), 1);
        QCOMPARE(s.value("outputDevice").toString(), QString("Out"));
        QCOMPARE(s.value("inputDevice").toString(), QString("In"));
        QCOMPARE(s.value("audioDevice").toString(), QString("Speaker"));
        QCOMPARE(s.value("localIP").toString(), QString("10.0.0.9"));
        QCOMPARE(s.value("audioOutMode").toInt(), 2);
        QCOMPARE(s.value("theme").toString(), QString("dark_cyan"));
    }

    void damagedValuesFallBackWithAWarning() {
        {
            QSettings s = store();
            s.setValue("frameOutMult", "lots");
            s.setValue("frameInMult", -3);
            s.setValue("speakerOn", "maybe");
            s.setValue("selectedRig", 99);
            s.setValue("audioOutMode", 7);
            s.setValue("inUDPPort", "port");
        }
        currentLogLevel = static_cast<int>(LogLevel::Warning);
        auto capture = std::make_unique<LogCapture>();
        open();
        const QString log = capture->text();
        capture.reset();
        currentLogLevel = static_cast<int>(LogLevel::Error);
        for (const char* key : {"frameOutMult", "frameInMult", "speakerOn", "selectedRig",
                                "audioOutMode", "inUDPPort"})
            QVERIFY2(log.contains(QString("Warning: MainWindow: Setting \"%1\"").arg(key)),
                     qPrintable(log));
        QCOMPARE(portAudio()->frameOutMult, 1);
        QCOMPARE(portAudio()->frameInMult, 1);
        QCOMPARE(portAudio()->speakerOn, false);
        QCOMPARE(portAudio()->audioOutMode, 0);
        QCOMPARE(rigBox()->currentIndex(), -1);
        window.reset();
        QCOMPARE(store().value("inUDPPort").toInt(), 16742);
    }

    void connectCarriesAudioBothWays() {
        seed(host->address());
        open();
        connectButton()->click();
        // Connecting: spinner over a disabled window until the host describes its stream.
        QVERIFY(spinner());
        QVERIFY(!window->isEnabled());
        QTRY_VERIFY(host->messageNames().contains("startOutput"));
        QCOMPARE(host->messageNames(), QStringList({"localInfo", "startOutput"}));
        QCOMPARE(host->messages[0].value("localAddress").toString(), QString("127.0.0.1"));
        QCOMPARE(host->messages[0].value("localPort").toInt(), int(panelPort));
        QTRY_VERIFY(!spinner());
        QVERIFY(window->isEnabled());
        QVERIFY(connectButton()->isChecked());
        QVERIFY(!rigBox()->isEnabled());
        QVERIFY(!actionNamed(window.get(), "Settings")->isEnabled());
        QCOMPARE(portAudio()->sampleRate, 96000);
        QCOMPARE(portAudio()->frameSizeOut, 1024);

        // The host's stereo datagrams are played and counted; the capture reaches the host.
        QUdpSocket sender;
        QByteArray frames(4 * 512, '\0');
        for (int i = 0; i < 512; ++i) {
            const qint16 sample = static_cast<qint16>(i % 2 ? 12000 : -12000);
            std::memcpy(frames.data() + 4 * i, &sample, 2);
            std::memcpy(frames.data() + 4 * i + 2, &sample, 2);
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 600) {
            sender.writeDatagram(frames, QHostAddress::LocalHost, panelPort);
            QTest::qWait(10);
        }
        QTRY_VERIFY(host->audioIn.hasPendingDatagrams());
        QVERIFY(host->audioIn.pendingDatagramSize() <= 1460);
        tick();
        const QRegularExpression line(R"(^Speed: (\d+)/(\d+) KBit\|Latency: (\S+) s$)");
        const auto m = line.match(statusText());
        QVERIFY2(m.hasMatch(), qPrintable(statusText()));
        QVERIFY2(m.captured(1).toInt() > 0, qPrintable(statusText()));
        QVERIFY2(m.captured(2).toInt() > 0, qPrintable(statusText()));
        QVERIFY(portAudio()->vuMeterOut->valueLeft > -30.0F);
    }

    // Levels measured just before a disconnect must not light the meters again after it.
    void metersComeToRestAfterDisconnect() {
        seed(host->address());
        open();
        auto* meterL = window->findChildren<HSSMeterWidget*>().first();
        const auto litPixels = [meterL] {
            const QImage image = meterL->grabFramebuffer();
            int lit = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    lit += image.pixelColor(x, y) == QColor(44, 173, 246) ? 1 : 0;
            return lit;
        };
        const int idle = litPixels();
        connectAndWait();
        // The window need not be active for this: Xvfb has no window manager to activate it.
        QCOMPARE(window->focusWidget(), static_cast<QWidget*>(connectButton()));

        QUdpSocket sender;
        QByteArray loud(4 * 512, '\0');
        for (int i = 0; i < 2 * 512; ++i)
            loud[2 * i + 1] = static_cast<char>(i % 2 ? 0x70 : 0x90);
        QTimer feed;
        connect(&feed, &QTimer::timeout, this,
                [&] { sender.writeDatagram(loud, QHostAddress::LocalHost, panelPort); });
        feed.start(5);
        QTRY_VERIFY(litPixels() > 2 * idle);
        connectButton()->click();
        QTRY_COMPARE(litPixels(), idle);
        QTest::qWait(500);
        QCOMPARE(litPixels(), idle);
    }

    void operatorDisconnectSendsStopOutput() {
        seed(host->address());
        open();
        connectAndWait();
        connectButton()->click();
        QVERIFY(!connectButton()->isChecked());
        QVERIFY(rigBox()->isEnabled());
        QVERIFY(actionNamed(window.get(), "Settings")->isEnabled());
        QTRY_COMPARE(host->closeCodes, QList<int>{1000});
        QCOMPARE(host->messageNames().last(), QString("stopOutput"));
    }

    void newRigIsAppendedOnceConnected() {
        seed("10.1.1.1:4590");
        open();
        rigBox()->setEditText(host->address());
        connectAndWait();
        QCOMPARE(rigBox()->count(), 2);
        QCOMPARE(rigBox()->currentText(), host->address());
        connectButton()->click();
        connectAndWait();
        QCOMPARE(rigBox()->count(), 2);
        window.reset();
        QCOMPARE(store().value("listRigs").toStringList(),
                 QStringList({"10.1.1.1:4590", host->address()}));
    }

    // A host that describes its stream again, and a reconnection right after a loss, both
    // restart the audio while the worker may still be playing into the old streams.
    void audioRestartsCleanly() {
        seed(host->address());
        open();
        connectAndWait();
        host->describeAgain();
        QTRY_COMPARE(host->messageNames().count("startOutput"), 2);
        QVERIFY(portAudio()->outputStream && portAudio()->inputStream);
        while (host->audioIn.hasPendingDatagrams())
            host->audioIn.receiveDatagram();
        QTRY_VERIFY(host->audioIn.hasPendingDatagrams());

        for (int i = 0; i < 3; ++i) {
            host->dropAll();
            QTRY_COMPARE(host->messageNames().count("startOutput"), 3 + i);
            QVERIFY(portAudio()->outputStream && portAudio()->inputStream);
        }
        while (host->audioIn.hasPendingDatagrams())
            host->audioIn.receiveDatagram();
        QTRY_VERIFY(host->audioIn.hasPendingDatagrams());
    }

    void refusedFirstConnectionIsReportedAndNotRetried() {
        const quint16 closedPort = host->port();
        host->stopListening();
        seed(QString("127.0.0.1:%1").arg(closedPort));
        open();
        BoxAnswer answer(QMessageBox::Ok);
        connectButton()->click();
        QTRY_COMPARE(answer.text, QString("Unable connect to remote Rig"));
        QCOMPARE(answer.title, QString("UMX control panel 1.5.2"));
        QTRY_VERIFY(!spinner());
        QVERIFY(!connectButton()->isChecked());
        QVERIFY(actionNamed(window.get(), "Connect to RIG")->isEnabled());
        QTest::qWait(1300);
        QVERIFY(!statusText().startsWith("Reconnecting"));
        QVERIFY(!spinner());
    }

    void unusableRigAddressIsExplained() {
        seed("rig.example.org:4590");
        open();
        BoxAnswer answer(QMessageBox::Ok);
        connectButton()->click();
        QTRY_VERIFY(answer.text.startsWith("Cannot connect: "));
        QVERIFY(answer.text.contains("host names"));
        QVERIFY(!connectButton()->isChecked());
        QVERIFY(!actionNamed(window.get(), "Connect to RIG")->isChecked());
        QVERIFY(!spinner());
        QVERIFY(host->messages.isEmpty());
    }

    void unknownDevicesConnectWithoutAudio() {
        seed(host->address(), "No such output", "No such input");
        open();
        currentLogLevel = static_cast<int>(LogLevel::Warning);
        auto capture = std::make_unique<LogCapture>();
        connectAndWait();
        const QString log = capture->text();
        capture.reset();
        currentLogLevel = static_cast<int>(LogLevel::Error);
        QVERIFY(log.contains("Warning: MainWindow: No audio: the UMX output device \"No such "
                             "output\" is not among the sound devices"));
        QVERIFY(connectButton()->isChecked());
        QVERIFY(!openMessageBox());
        QTest::qWait(300);
        QVERIFY(!host->audioIn.hasPendingDatagrams());
    }

    void soundCardThatCannotStartIsReported() {
        host->sampleRate = 0;
        seed(host->address());
        open();
        BoxAnswer answer(QMessageBox::Ok);
        connectButton()->click();
        QTRY_COMPARE(answer.text, QString("Unable to configure audio card"));
        QTRY_VERIFY(!connectButton()->isChecked());
        QVERIFY(!spinner());
        QTRY_COMPARE(host->closeCodes, QList<int>{1000});
    }

    void lostControlConnectionIsReestablished() {
        seed(host->address());
        open();
        connectAndWait();
        received(100000);
        host->dropAll();
        QTRY_COMPARE(statusText(), QString("Reconnecting in 1s..."));
        QVERIFY(spinner());
        QVERIFY(connectButton()->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(host->messageNames().count("startOutput") == 2, 5000);
        QTRY_VERIFY(!spinner());
        QVERIFY(connectButton()->isChecked());
        // The bytes counted before the loss were dropped with the old connection.
        tick();
        QVERIFY2(statusText().startsWith("Speed: 0/"), qPrintable(statusText()));
    }

    void silentLinkIsGivenUpOnTheFifthLowTick() {
        seed(host->address());
        open();
        connectAndWait();
        // 200 KBit/s in a 2-second window is 51200 bytes; one byte less is 199 KBit/s.
        for (int i = 0; i < 6; ++i) {
            received(51200);
            tick();
        }
        QVERIFY(connectButton()->isChecked());
        for (int i = 0; i < 4; ++i) {
            received(50944);
            tick();
            QVERIFY(connectButton()->isChecked());
        }
        BoxAnswer answer(QMessageBox::Ok);
        received(50944);
        tick();
        QCOMPARE(answer.text, QString("Lost connection with Rig"));
        QVERIFY(!connectButton()->isChecked());
        QVERIFY(rigBox()->isEnabled());
        QTRY_COMPARE(host->closeCodes, QList<int>{1000});
    }

    void receiverChoiceAndSpeaker() {
        open();
        QAction* both = actionNamed(window.get(), "RX1+RX2");
        QAction* rx1 = actionNamed(window.get(), "RX1");
        QAction* rx2 = actionNamed(window.get(), "RX2");
        QVERIFY(both->isChecked() && !rx1->isChecked() && !rx2->isChecked());
        rx1->trigger();
        QCOMPARE(portAudio()->audioOutMode, 1);
        QVERIFY(!both->isChecked() && rx1->isChecked() && !rx2->isChecked());
        rx1->trigger();
        QCOMPARE(portAudio()->audioOutMode, 1);
        QVERIFY(!both->isChecked() && !rx1->isChecked() && !rx2->isChecked());
        rx2->trigger();
        QCOMPARE(portAudio()->audioOutMode, 2);

        auto* speakerButton = window->findChild<QToolButton*>("tbAudio");
        QAction* speaker = actionNamed(window.get(), "Speaker");
        QCOMPARE(speakerButton->menu(), rx1->associatedWidgets().isEmpty()
                                            ? nullptr
                                            : qobject_cast<QMenu*>(rx1->associatedWidgets()[0]));
        speakerButton->click();
        QVERIFY(portAudio()->speakerOn);
        QVERIFY(speaker->isChecked());
        speaker->trigger();
        QVERIFY(!portAudio()->speakerOn);
        QVERIFY(!speakerButton->isChecked());
    }

    void trayMenuOrder() {
        open();
        auto* tray = window->findChild<QSystemTrayIcon*>();
        QVERIFY(tray && tray->isVisible());
        QStringList entries;
        for (QAction* action : tray->contextMenu()->actions())
            entries << (action->isSeparator() ? "-" : action->text());
        QCOMPARE(entries, QStringList({"Connect to RIG", "Speaker", "Mixer..", "Settings", "-",
                                       "Hide panel", "Quit"}));
        QCOMPARE(tray->contextMenu()->actions()[2]->menu(),
                 window->findChild<QToolButton*>("tbAudio")->menu());
    }

    void rigDeletionAsksFirst() {
        {
            QSettings s = store();
            s.setValue("listRigs", QStringList{"10.0.0.1:1", "10.0.0.2:2", "10.0.0.3:3"});
            s.setValue("selectedRig", 1);
        }
        open();
        QAction* remove = actionNamed(window.get(), "Delete RIG's URL..");
        {
            BoxAnswer cancel(QMessageBox::Cancel);
            remove->trigger();
            QCOMPARE(cancel.text, QString("Do you want to delete\n10.0.0.2:2 ?"));
        }
        QCOMPARE(rigBox()->count(), 3);
        {
            BoxAnswer ok(QMessageBox::Ok);
            remove->trigger();
            QCOMPARE(ok.text, QString("Do you want to delete\n10.0.0.2:2 ?"));
        }
        QCOMPARE(rigBox()->count(), 2);
        window.reset();
        QCOMPARE(store().value("listRigs").toStringList(),
                 QStringList({"10.0.0.1:1", "10.0.0.3:3"}));
    }

    void settingsDialogChangesNothingOnCancel() {
        open();
        DialogAnswer cancel([](QDialog* dialog) {
            dialog->findChild<QComboBox*>("cbTheme")->setCurrentIndex(1);
            dialog->reject();
        });
        actionNamed(window.get(), "Settings")->trigger();
        QVERIFY(!qApp->styleSheet().isEmpty());
        window.reset();
        QCOMPARE(store().value("theme").toString(), QString("default"));

        open();
        DialogAnswer ok([](QDialog* dialog) {
            dialog->findChild<QComboBox*>("cbTheme")->setCurrentIndex(2);
            dialog->findChild<QSpinBox*>("sbLocalUDPPort")->setValue(20000);
            dialog->accept();
        });
        actionNamed(window.get(), "Settings")->trigger();
        window.reset();
        QCOMPARE(store().value("theme").toString(), QString("dark_amber"));
        QCOMPARE(store().value("inUDPPort").toInt(), 20000);
    }

    void closingRules() {
        open();
        {
            BoxAnswer cancel(QMessageBox::Cancel);
            window->close();
            QCOMPARE(cancel.text, QString("Do you want to quit?"));
        }
        QVERIFY(window->isVisible());

        window.reset();
        seed(host->address());
        open();
        connectAndWait();
        actionNamed(window.get(), "Quit")->trigger();
        QVERIFY(!window->isVisible());
        {
            // A close request can meet the window while it is still being unmapped; the operator
            // would simply ask again.
            BoxAnswer ok(QMessageBox::Ok);
            for (int attempt = 0; attempt < 5 && ok.text.isEmpty(); ++attempt) {
                window->close();
                QTest::qWait(100);
            }
            QCOMPARE(ok.text, QString("Please, disconnect from the remote RIG"));
        }
        QVERIFY(window->isVisible());
    }

    void trayClickTogglesTheWindow() {
        open();
        auto* tray = window->findChild<QSystemTrayIcon*>();
        QAction* showHide = actionNamed(window.get(), "Hide panel");
        QVERIFY(showHide);
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isVisible());
        QCOMPARE(showHide->text(), QString("Show panel"));
        emit tray->activated(QSystemTrayIcon::Context);
        QVERIFY(!window->isVisible());
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible());
        QCOMPARE(showHide->text(), QString("Hide panel"));
        QVERIFY(window->findChild<HSSMeterWidget*>()->isVisible());
    }

    void boundPortInUseIsShown() {
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress::AnyIPv4, 0));
        panelPort = occupant.localPort();
        seed(host->address());
        open();
        connectAndWait();
        QLabel* warning = nullptr;
        QTRY_VERIFY([&] {
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->text().startsWith("UDP port") && label->isVisible())
                    warning = label;
            return warning != nullptr;
        }());
        QCOMPARE(warning->text(),
                 QString("UDP port %1 unavailable: no audio received").arg(panelPort));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
