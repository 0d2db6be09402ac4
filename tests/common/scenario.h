// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hostpeer.h"
#include "hsriglink.h"
#include "mainwindow.h"
#include "standinsoundcard.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// The panel as the operator has it (the window on its connection layer, settings in a private
// store) with the stand-in sound card and a real host on loopback. Timers are fired by hand, and
// every message box is answered with its default button as it shows, its text kept.
class Scenario {
public:
    explicit Scenario(const QString& rigAddress = {},
                      const std::function<void(QSettings&)>& configure = {}) {
        setApplicationIdentity();
        QSettings store;
        store.clear();
        store.setValue("listRigs", QStringList{rigAddress.isEmpty() ? host.address() : rigAddress});
        store.setValue("selectedRig", 0);
        store.setValue("outputDevice", StandInSoundCard::kCable);
        store.setValue("audioDevice", StandInSoundCard::kSpeaker);
        store.setValue("inputDevice", StandInSoundCard::kCapture);
        QUdpSocket probe; // a port nothing else uses, for the panel's audio
        probe.bind(QHostAddress::LocalHost, 0);
        store.setValue("inUDPPort", probe.localPort());
        if (configure)
            configure(store);
        store.sync();
        window = std::make_unique<MainWindow>(&link, loadPanelSettings());
        window->show();
        timer("statusTimer")->stop();
        QObject::connect(&boxWatch, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->defaultButton()->click();
            }
        });
        boxWatch.start(10);
    }

    HSRigLink::State state() const { return link.state(); }
    QTimer* timer(const char* name) const { return link.findChild<QTimer*>(name); }
    // A timer fired by hand is stopped first, so that it cannot fire by itself as well. True when
    // it was running.
    bool fire(const char* name) {
        const bool running = timer(name)->isActive();
        timer(name)->stop();
        QMetaObject::invokeMethod(timer(name), "timeout");
        return running;
    }
    void pressConnect() { window->findChild<QPushButton*>("pbConnect")->click(); }
    // The tray menu's connect entry as the operator finds it: "checked enabled" and so on.
    QString trayConnect() const {
        const QAction* e = window->findChild<QSystemTrayIcon*>()->contextMenu()->actions()[0];
        return QString("%1checked %2abled")
            .arg(e->isChecked() ? "" : "un", e->isEnabled() ? "en" : "dis");
    }
    QString status() const { return window->statusBar()->currentMessage(); }

    // The host hears "startOutput" once the link streams.
    bool connectAndStream() {
        pressConnect();
        return QTest::qWaitFor([this] { return host.received.contains("startOutput"); });
    }
    // `count` datagrams from the host, a few at a time so that none overflows the socket, and true
    // once the worker has taken that many more. It listens only once the link has reported the
    // stream: what is sent before it has taken one does not count.
    bool stream(const QByteArray& datagram, int count = 1) {
        const qint64 before = card.datagrams();
        int sent = 0;
        return QTest::qWaitFor([&] {
            const bool listening = card.datagrams() > before;
            for (int burst = 0; burst < 8 && sent < count; ++burst) {
                host.sendAudio(datagram);
                sent += listening ? 1 : 0;
            }
            return card.datagrams() >= before + count;
        });
    }

    StandInSoundCard card;
    HostPeer host;
    QStringList boxes;
    QTimer boxWatch;
    HSRigLink link{&card};
    std::unique_ptr<MainWindow> window;
};
