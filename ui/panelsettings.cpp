#include "panelsettings.h"

#include "log.h"
#include "settingsvalues.h"

namespace {

constexpr const char* kCategory = "MainWindow";
constexpr quint16 kDefaultUdpPort = 16742;
constexpr int kMaxFrameMult = 8;

} // namespace

PanelSettings loadPanelSettings(QSettings& store) {
    PanelSettings values;
    values.geometry = readBytesSetting(store, "geometry");
    values.windowState = readBytesSetting(store, "windowState");
    values.link.speakerOn = readBoolSetting(store, "speakerOn", false);
    values.link.frameOutMult = readIntSetting(store, "frameOutMult", 1, 1, kMaxFrameMult);
    values.link.frameInMult = readIntSetting(store, "frameInMult", 1, 1, kMaxFrameMult);
    values.usePredefinedDevice = readBoolSetting(store, "settingsUsePredefinedDevice", false);
    values.listRigs = readStringListSetting(store, "listRigs", {QString()});
    values.selectedRig =
        readIntSetting(store, "selectedRig", -1, -1, static_cast<int>(values.listRigs.size()) - 1);
    values.link.outputDevice = readStringSetting(store, "outputDevice", "");
    values.link.inputDevice = readStringSetting(store, "inputDevice", "");
    values.link.audioDevice = readStringSetting(store, "audioDevice", "");
    values.link.inUDPPort = readPortSetting(store, "inUDPPort", kDefaultUdpPort);
    values.link.localIP = readStringSetting(store, "localIP", "127.0.0.1");
    values.link.audioOutMode = static_cast<ReceiverMode>(
        readIntSetting(store, "audioOutMode", 0, static_cast<int>(ReceiverMode::Both),
                       static_cast<int>(ReceiverMode::RX2)));
    values.theme = readStringSetting(store, "theme", "default");
    values.link.acceptAnySender = readBoolSetting(store, "acceptAnySender", false);
    values.startWithSession = readBoolSetting(store, "startWithSession", false);
    values.connectAtStart = readBoolSetting(store, "connectAtStart", false);
    return values;
}

void savePanelSettings(QSettings& store, const PanelSettings& values) {
    store.setValue("geometry", values.geometry);
    store.setValue("windowState", values.windowState);
    store.setValue("frameOutMult", values.link.frameOutMult);
    store.setValue("frameInMult", values.link.frameInMult);
    store.setValue("speakerOn", values.link.speakerOn);
    store.setValue("settingsUsePredefinedDevice", values.usePredefinedDevice);
    store.setValue("listRigs", values.listRigs);
    store.setValue("selectedRig", values.selectedRig);
    store.setValue("inUDPPort", values.link.inUDPPort);
    HSLOG(LogLevel::Info, kCategory) << "saving outputDevice: " << values.link.outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving audioDevice: " << values.link.audioDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving inputDevice: " << values.link.inputDevice;
    store.setValue("outputDevice", values.link.outputDevice);
    store.setValue("inputDevice", values.link.inputDevice);
    store.setValue("audioDevice", values.link.audioDevice);
    store.setValue("localIP", values.link.localIP);
    store.setValue("audioOutMode", static_cast<int>(values.link.audioOutMode));
    store.setValue("theme", values.theme);
    store.setValue("acceptAnySender", values.link.acceptAnySender);
    store.setValue("startWithSession", values.startWithSession);
    store.setValue("connectAtStart", values.connectAtStart);
}
