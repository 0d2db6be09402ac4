#include "audioplatform.h"
#include "devicecatalogue.h"

#include <QtTest>

using Catalogue = QMap<QString, int>;
Q_DECLARE_METATYPE(QVector<DeviceDescription>)

namespace {

const QString kWasapi = QStringLiteral(".*(WASAPI).*");

DeviceDescription device(const QString& name, const QString& hostApi, int in, int out,
                         double rate) {
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
        const QString wasapi = "Windows WASAPI";
        QTest::newRow("capture-only device is an input")
            << QVector<DeviceDescription>{device("Mic", wasapi, 2, 0, 48000)} << kWasapi
            << Catalogue{{"Mic", 0}} << Catalogue{};
        QTest::newRow("playback-only device is an output")
            << QVector<DeviceDescription>{device("Spk", wasapi, 0, 8, 96000)} << kWasapi
            << Catalogue{} << Catalogue{{"Spk", 0}};
        QTest::newRow("duplex device is in neither")
            << QVector<DeviceDescription>{device("Duplex", wasapi, 2, 2, 48000)} << kWasapi
            << Catalogue{} << Catalogue{};
        QTest::newRow("44100 Hz device is in neither")
            << QVector<DeviceDescription>{device("Old", wasapi, 0, 2, 44100),
                                          device("OldIn", wasapi, 1, 0, 44100)}
            << kWasapi << Catalogue{} << Catalogue{};
        QTest::newRow("no channels at all: both lists")
            << QVector<DeviceDescription>{device("Ghost", wasapi, 0, 0, 48000)} << kWasapi
            << Catalogue{{"Ghost", 0}} << Catalogue{{"Ghost", 0}};
        QTest::newRow("host API name in any letter case")
            << QVector<DeviceDescription>{device("A", "wasapi", 0, 2, 48000),
                                          device("B", "Windows WaSaPi (shared)", 0, 2, 48000)}
            << kWasapi << Catalogue{} << Catalogue{{"A", 0}, {"B", 1}};
        QTest::newRow("other host APIs are ignored")
            << QVector<DeviceDescription>{device("A", "MME", 0, 2, 48000),
                                          device("B", "Windows DirectSound", 2, 0, 48000),
                                          device("C", "ASIO", 0, 2, 96000),
                                          device("D", "", 0, 2, 96000)}
            << kWasapi << Catalogue{} << Catalogue{};
        QTest::newRow("later device of the same name wins")
            << QVector<DeviceDescription>{device("x", "MME", 0, 2, 48000),
                                          device("y", wasapi, 0, 2, 48000),
                                          device("z", wasapi, 0, 2, 48000),
                                          device("Same", wasapi, 0, 2, 48000),
                                          device("w", wasapi, 0, 2, 48000),
                                          device("v", wasapi, 0, 2, 48000),
                                          device("u", wasapi, 0, 2, 48000),
                                          device("Same", wasapi, 0, 2, 48000)}
            << kWasapi << Catalogue{}
            << Catalogue{{"y", 1}, {"z", 2}, {"Same", 7}, {"w", 4}, {"v", 5}, {"u", 6}};
        QTest::newRow("names are case-sensitive keys")
            << QVector<DeviceDescription>{device("Line", wasapi, 0, 2, 48000),
                                          device("line", wasapi, 0, 2, 48000)}
            << kWasapi << Catalogue{} << Catalogue{{"Line", 0}, {"line", 1}};
        QTest::newRow("ALSA pattern takes the ALSA devices")
            << QVector<DeviceDescription>{device("Line In (UMX VAC)", "ALSA", 128, 0, 48000),
                                          device("Line Volume (2- UMX VAC)", "ALSA", 0, 128, 48000),
                                          device("jack", "ALSA", 128, 128, 48000),
                                          device("system", "JACK Audio Connection Kit", 2, 0,
                                                 96000)}
            << QStringLiteral(".*(ALSA).*") << Catalogue{{"Line In (UMX VAC)", 0}}
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

    void mapsAreInNameOrder() {
        const DeviceCatalogue catalogue = catalogueDevices({device("b", "WASAPI", 0, 2, 48000),
                                                            device("B", "WASAPI", 0, 2, 48000),
                                                            device("a", "WASAPI", 0, 2, 48000)},
                                                           kWasapi);
        QCOMPARE(catalogue.outputDevices.keys(), QStringList({"B", "a", "b"}));
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
            {device("Out", hostApi, 0, 2, 48000), device("Elsewhere", "OSS", 0, 2, 48000)},
            QString::fromLatin1(kHostApiPattern));
        QCOMPARE(catalogue.outputDevices, (Catalogue{{"Out", 0}}));
    }
};

QTEST_APPLESS_MAIN(TestDeviceCatalogue)
#include "tst_devicecatalogue.moc"
