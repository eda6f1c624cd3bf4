#include "cards.h"

#include <QNetworkInterface>

namespace tarvik::cli {

namespace {

bool canBroadcastIPv4(const QNetworkInterface& card)
{
    const auto flags = card.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
        !flags.testFlag(QNetworkInterface::CanBroadcast) || flags.testFlag(QNetworkInterface::IsLoopBack))
        return false;
    const auto entries = card.addressEntries();
    for (const QNetworkAddressEntry& entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return true;
    }
    return false;
}

} // namespace

QList<Card> broadcastCards(const QString& only, QString* error)
{
    QList<Card> cards;
    bool named = false;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& card : all) {
        const bool isNamed = card.name() == only || card.humanReadableName() == only;
        if (!only.isEmpty() && !isNamed)
            continue;
        named = named || isNamed;
        if (canBroadcastIPv4(card))
            cards.append({card.index(), card.name()});
    }
    if (!only.isEmpty() && cards.isEmpty() && error) {
        *error = named ? QStringLiteral("interface %1 is not an IPv4 card that is up and can broadcast").arg(only)
                       : QStringLiteral("no interface named %1").arg(only);
    }
    return cards;
}

QString cardName(int index)
{
    return index > 0 ? QNetworkInterface::interfaceNameFromIndex(index) : QString();
}

} // namespace tarvik::cli
