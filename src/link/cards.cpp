#include "cards.h"

#include <QNetworkInterface>
#include <QStringList>

namespace tarvik::cards {

QList<QHostAddress> ipv4Addresses(const QNetworkInterface& interface)
{
    QList<QHostAddress> addresses;
    const auto entries = interface.addressEntries();
    for (const QNetworkAddressEntry& entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(entry.ip());
    }
    return addresses;
}

bool isUsable(const QNetworkInterface& interface)
{
    const auto flags = interface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning) &&
           flags.testFlag(QNetworkInterface::CanBroadcast) && !flags.testFlag(QNetworkInterface::IsLoopBack) &&
           interface.index() > 0 && !ipv4Addresses(interface).isEmpty();
}

QList<Card> usable(const QString& name)
{
    QList<Card> result;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        // Windows names a card by its type and a number ("ethernet_32769"); people know it by the
        // name its network settings show ("Ethernet 2"). Either is taken, the second is shown.
        // Elsewhere the two are the same.
        if (!name.isEmpty() && interface.name() != name && interface.humanReadableName() != name)
            continue;
        if (isUsable(interface))
            result.append(
                {interface.index(), interface.humanReadableName(), ipv4Addresses(interface).first().toString()});
    }
    return result;
}

QString describe(const Card& card)
{
    return card.name + QLatin1Char(' ') + card.address;
}

QString describe(const QList<Card>& cards)
{
    QStringList parts;
    for (const Card& card : cards)
        parts << describe(card);
    return parts.join(QStringLiteral(", "));
}

QString notUsable(const QString& name)
{
    const QList<Card> cards = usable();
    return QStringLiteral("no usable IPv4 interface named %1; usable: %2")
        .arg(name, cards.isEmpty() ? QStringLiteral("none") : describe(cards));
}

QString nameOf(int index)
{
    return index > kAnyCard ? QNetworkInterface::interfaceFromIndex(index).humanReadableName() : QString();
}

QString addressOf(int index)
{
    if (index <= kAnyCard)
        return {};
    const QList<QHostAddress> addresses = ipv4Addresses(QNetworkInterface::interfaceFromIndex(index));
    return addresses.isEmpty() ? QString() : addresses.first().toString();
}

wire::Capture::CardInfo captureInfo(int index)
{
    wire::Capture::CardInfo info;
    if (index <= kAnyCard)
        return info;
    const QNetworkInterface interface = QNetworkInterface::interfaceFromIndex(index);
    info.name = interface.humanReadableName();
    const auto entries = interface.addressEntries();
    for (const QNetworkAddressEntry& entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            info.address = entry.ip().toIPv4Address();
            info.mask = entry.netmask().toIPv4Address();
            break;
        }
    }
    return info;
}

} // namespace tarvik::cards
