#include "devicecatalogue.h"

#include <QtTest>

static const QString kWasapi = ".*(WASAPI).*";

class TestDeviceCatalogue : public QObject {
    Q_OBJECT

private slots:
    void oneDevice_data() {
        QTest::addColumn<QString>("hostApi");
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("indices"); // in the capture list, in the playback list
        QTest::newRow("no output channels") << "WASAPI" << 2 << 0 << 48000.0 << "0 -1";
        QTest::newRow("no input channels") << "WASAPI" << 0 << 8 << 96000.0 << "-1 0";
        QTest::newRow("no channels at all") << "WASAPI" << 0 << 0 << 48000.0 << "0 0";
        QTest::newRow("duplex") << "WASAPI" << 2 << 2 << 48000.0 << "-1 -1";
        QTest::newRow("playback at 44.1 kHz") << "WASAPI" << 0 << 2 << 44100.0 << "-1 -1";
        QTest::newRow("capture below 48 kHz") << "WASAPI" << 1 << 0 << 47999.9 << "-1 -1";
        QTest::newRow("host API in lower case") << "Windows wasapi" << 0 << 2 << 48e3 << "-1 0";
        QTest::newRow("another host API") << "MME" << 0 << 2 << 48000.0 << "-1 -1";
    }
    void oneDevice() {
        QFETCH(QString, hostApi);
        QFETCH(int, in);
        QFETCH(int, out);
        QFETCH(double, rate);
        const DeviceCatalogue c = catalogueDevices({{"D", hostApi, in, out, rate}}, kWasapi);
        QTEST(
            QString("%1 %2").arg(c.inputDevices.value("D", -1)).arg(c.outputDevices.value("D", -1)),
            "indices");
    }

    // A device's index is its position; a later device of the same (case-sensitive) name wins.
    void laterDeviceOfOneNameWins() {
        const DeviceDescription same{"Same", "WASAPI", 0, 2, 48000.0};
        const DeviceCatalogue c =
            catalogueDevices({same, {"same", "WASAPI", 0, 2, 48e3}, same}, kWasapi);
        QCOMPARE(c.outputDevices, (QMap<QString, int>{{"Same", 2}, {"same", 1}}));
    }
};

QTEST_APPLESS_MAIN(TestDeviceCatalogue)
#include "tst_devicecatalogue.moc"
