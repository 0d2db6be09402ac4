// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowbehaviour.h"

CloseStep closeStep(bool connecting, bool visible, bool connected, bool trayAvailable) {
    if (connecting)
        return CloseStep::Stay;
    if (!connected || !trayAvailable)
        return CloseStep::AskToQuit;
    return visible ? CloseStep::ToTray : CloseStep::AskToDisconnect;
}

bool startsHidden(bool hiddenAsked, bool trayAvailable) {
    return hiddenAsked && trayAvailable;
}
