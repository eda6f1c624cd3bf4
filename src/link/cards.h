// The network cards the tool broadcasts through: every card with an IPv4 address that is up,
// running, can broadcast and is not the loopback. Looked up afresh at every call, so that a card
// plugged in after start-up is used and one that went down is left out.
#pragma once

#include "link/capture.h"
#include "link/link.h"

#include <QHostAddress>
#include <QList>
#include <QString>

class QNetworkInterface;

namespace tarvik::cards {

// The IPv4 addresses of `interface`, in the system's order; the first is the one a card is shown with.
QList<QHostAddress> ipv4Addresses(const QNetworkInterface& interface);

// Whether a broadcast may go out through `interface`: up, running, able to broadcast, not the
// loopback, with an IPv4 address.
bool isUsable(const QNetworkInterface& interface);

// The usable cards in the system's order, each named as people see it (humanReadableName: on Windows
// "Ethernet 2", elsewhere the system's name). With `name` (as for a --interface NAME option), only
// the usable card of that name, or of that system name, if there is one.
QList<Card> usable(const QString& name = QString());

// "eth0 192.168.1.5", one card in a line of text.
QString describe(const Card& card);
// The cards described and joined by ", ".
QString describe(const QList<Card>& cards);

// Why the card `name` cannot be chosen: it is not a usable card. Lists the usable ones, so that
// whoever typed the name sees what to type instead.
QString notUsable(const QString& name);

// The name people see of the card `index`; empty for kAnyCard or an index the system does not know.
QString nameOf(int index);
// The first IPv4 address of the card `index`, as text; empty when it has none.
QString addressOf(int index);
// The card `index` as a capture's interface block names it: its system name and first IPv4 address.
wire::Capture::CardInfo captureInfo(int index);

} // namespace tarvik::cards
