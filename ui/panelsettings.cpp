// SPDX-License-Identifier: GPL-3.0-or-later

#include "panelsettings.h"

#include "log.h"
#include "settingsvalues.h"
#include "umxversion.h"

#include <QCoreApplication>

#include <type_traits>

namespace {

constexpr const char* kCategory = "MainWindow";

// Reads each key into its member, which holds the default until then.
struct Reader {
    QSettings& store;

    void operator()(const char* key, bool& value, Control = {}) const {
        value = readBoolSetting(store, key, value);
    }
    void operator()(const char* key, int& value, int min, int max, Control = {}) const {
        value = readIntSetting(store, key, value, min, max);
    }
    void operator()(const char* key, ReceiverMode& value) const {
        value = static_cast<ReceiverMode>(readIntSetting(store, key, static_cast<int>(value),
                                                         static_cast<int>(ReceiverMode::Both),
                                                         static_cast<int>(ReceiverMode::RX2)));
    }
    void operator()(const char* key, quint16& value, Control = {}) const {
        value = readPortSetting(store, key, value);
    }
    void operator()(const char* key, QString& value, Control = {}) const {
        value = readStringSetting(store, key, value);
    }
    void operator()(const char* key, QStringList& value) const {
        value = readStringListSetting(store, key, value);
    }
    void operator()(const char* key, QByteArray& value) const {
        value = readBytesSetting(store, key);
    }
};

// Writes each member with its natural type; the receiver choice as its number.
struct Writer {
    QSettings& store;

    template <typename T, typename... Extras>
    void operator()(const char* key, const T& value, Extras...) const {
        if constexpr (std::is_enum_v<T>)
            store.setValue(key, static_cast<int>(value));
        else
            store.setValue(key, value);
    }
};

} // namespace

void setApplicationIdentity() {
    QCoreApplication::setOrganizationName("Hoska");
    QCoreApplication::setApplicationName("uMX");
    QCoreApplication::setApplicationVersion(kUmxVersion);
}

PanelSettings loadPanelSettings(QSettings& store) {
    PanelSettings values;
    forEachSetting(values, Reader{store});
    return values;
}

PanelSettings loadPanelSettings() {
    QSettings store;
    return loadPanelSettings(store);
}

void savePanelSettings(QSettings& store, const PanelSettings& values) {
    HSLOG(LogLevel::Info, kCategory) << "saving outputDevice: " << values.link.card.outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving audioDevice: " << values.link.card.audioDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving inputDevice: " << values.link.card.inputDevice;
    forEachSetting(values, Writer{store});
}

void savePanelSettings(const PanelSettings& values) {
    QSettings store;
    savePanelSettings(store, values);
}
