#include "audioplatform.h"
#include "devicecatalogue.h"

#include <QtTest>

using Catalogue = QMap<QString, int>;
using Devices = QVector<DeviceDescription>;
Q_DECLARE_METATYPE(QVector<DeviceDescription>)

namespace {

const QString kWasapi = QStringLiteral(".*(WASAPI).*");

DeviceDescription device(const QString& name, int in, int out, double rate = 48000,
                         const QString& hostApi = "Windows WASAPI") {
    return DeviceDescription{name, hostApi, in, out, rate};
}

} // namespace

class TestDeviceCatalogue : public QObject {
    Q_OBJECT

private slots:
    void filter_data() {
        QTest::addColumn<QVector<DeviceDescription>>("devices");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<Catalogue>("inputs");
        QTest::addColumn<Catalogue>("outputs");
        QTest::newRow("capture-only device is an input")
            << Devices{device("Mic", 2, 0)} << kWasapi << Catalogue{{"Mic", 0}} << Catalogue{};
        QTest::newRow("playback-only device is an output")
            << Devices{device("Spk", 0, 8, 96000)} << kWasapi << Catalogue{}
            << Catalogue{{"Spk", 0}};
        QTest::newRow("duplex device is in neither")
            << Devices{device("Duplex", 2, 2)} << kWasapi << Catalogue{} << Catalogue{};
        QTest::newRow("44100 Hz device is in neither")
            << Devices{device("Old", 0, 2, 44100), device("OldIn", 1, 0, 44100)} << kWasapi
            << Catalogue{} << Catalogue{};
        QTest::newRow("no channels at all: both lists")
            << Devices{device("Ghost", 0, 0)} << kWasapi << Catalogue{{"Ghost", 0}}
            << Catalogue{{"Ghost", 0}};
        QTest::newRow("host API name in any letter case")
            << Devices{device("A", 0, 2, 48000, "wasapi"),
                       device("B", 0, 2, 48000, "Windows WaSaPi (shared)")}
            << kWasapi << Catalogue{} << Catalogue{{"A", 0}, {"B", 1}};
        QTest::newRow("other host APIs are ignored")
            << Devices{device("A", 0, 2, 48000, "MME"),
                       device("B", 2, 0, 48000, "Windows DirectSound"),
                       device("C", 0, 2, 96000, "ASIO"), device("D", 0, 2, 96000, "")}
            << kWasapi << Catalogue{} << Catalogue{};
        QTest::newRow("later device of the same name wins")
            << Devices{device("x", 0, 2, 48000, "MME"),
                       device("y", 0, 2),
                       device("z", 0, 2),
                       device("Same", 0, 2),
                       device("w", 0, 2),
                       device("v", 0, 2),
                       device("u", 0, 2),
                       device("Same", 0, 2)}
            << kWasapi << Catalogue{}
            << Catalogue{{"y", 1}, {"z", 2}, {"Same", 7}, {"w", 4}, {"v", 5}, {"u", 6}};
        QTest::newRow("names are case-sensitive keys")
            << Devices{device("Line", 0, 2), device("line", 0, 2)} << kWasapi << Catalogue{}
            << Catalogue{{"Line", 0}, {"line", 1}};
        QTest::newRow("ALSA pattern takes the ALSA devices")
            << Devices{device("Line In (UMX VAC)", 128, 0, 48000, "ALSA"),
                       device("Line Volume (2- UMX VAC)", 0, 128, 48000, "ALSA"),
                       device("jack", 128, 128, 48000, "ALSA"),
                       device("system", 2, 0, 96000, "JACK Audio Connection Kit")}
            << ".*(ALSA).*" << Catalogue{{"Line In (UMX VAC)", 0}}
            << Catalogue{{"Line Volume (2- UMX VAC)", 1}};
    }
    void filter() {
        QFETCH(QVector<DeviceDescription>, devices);
        QFETCH(QString, pattern);
        QFETCH(Catalogue, inputs);
        QFETCH(Catalogue, outputs);
        const DeviceCatalogue catalogue = catalogueDevices(devices, pattern);
        QCOMPARE(catalogue.inputDevices, inputs);
        QCOMPARE(catalogue.outputDevices, outputs);
    }

    void platformPatternMatchesThisPlatformsHostApi() {
#if defined(Q_OS_WIN)
        const QString hostApi = "Windows WASAPI";
#elif defined(Q_OS_MACOS)
        const QString hostApi = "Core Audio";
#else
        const QString hostApi = "ALSA";
#endif
        const DeviceCatalogue catalogue = catalogueDevices(
            {device("Out", 0, 2, 48000, hostApi), device("Elsewhere", 0, 2, 48000, "OSS")},
            QString::fromLatin1(kHostApiPattern));
        QCOMPARE(catalogue.outputDevices, (Catalogue{{"Out", 0}}));
    }
};

QTEST_APPLESS_MAIN(TestDeviceCatalogue)
#include "tst_devicecatalogue.moc"
