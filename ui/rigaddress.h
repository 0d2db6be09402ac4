#pragma once

#include <QString>

// Why the text in the rig field cannot reach a rig, or an empty string when it can. The audio
// channel sends to an address literal, so the field needs "IPv4:port" (or "[IPv6]:port").
QString rigAddressProblem(const QString& text);
