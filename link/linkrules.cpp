// SPDX-License-Identifier: GPL-3.0-or-later

#include "linkrules.h"

#include "linkfigures.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

const QRegularExpression
    kIpv4WithPort(R"(^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\.){3})"
                  R"(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5]):([0-9]+)$)");
const QRegularExpression kIpv6WithPort(R"(^\[([0-9A-Fa-f:.]+)\]:([0-9]+)$)");

constexpr int kMaxPort = 65535;
constexpr qint16 kLowRateKbit = 199;

QString portProblem(const QString& port) {
    bool ok = false;
    const int value = port.toInt(&ok);
    if (!ok || value < 1 || value > kMaxPort)
        return QString("the port %1 is not between 1 and 65535").arg(port);
    return {};
}

} // namespace

QString rigAddressProblem(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return "no rig address is given";
    if (const auto m = kIpv4WithPort.match(trimmed); m.hasMatch())
        return portProblem(m.captured(4));
    if (const auto m = kIpv6WithPort.match(trimmed); m.hasMatch()) {
        if (QHostAddress(m.captured(1)).protocol() != QAbstractSocket::IPv6Protocol)
            return QString("%1 is not an IPv6 address").arg(m.captured(1));
        return portProblem(m.captured(2));
    }
    if (!trimmed.contains(':'))
        return QString("\"%1\" has no port").arg(trimmed);
    return QString("\"%1\" is not an IP address with a port (host names are not used for audio)")
        .arg(trimmed);
}

quint32 kbitPerSecond(quint32 bytesPerWindow) {
    return (bytesPerWindow * 4u) / 1024u;
}

bool isLowReceiveRate(quint32 rxBytes) {
    return static_cast<qint16>(kbitPerSecond(rxBytes)) <= kLowRateKbit;
}

QStringList playoutFigures(const PlayoutStats& stats) {
    const LinkReading reading{true, stats, 0, 0};
    QStringList phrases;
    for (const LinkFigure& figure : kLinkFigures) {
        if (!figure.tip)
            continue;
        QString phrase = QString(figure.tip).arg(qRound64(figure.read(reading)));
        if (figure.tipAlso)
            phrase = phrase.arg(qRound64(figure.tipAlso(reading)));
        phrases << phrase;
    }
    return phrases;
}
