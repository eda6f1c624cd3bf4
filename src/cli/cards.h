// The network cards a scan broadcasts through, and --interface NAME.
//
// Kept apart and small on purpose: the window's own "every network card" support lives in the link
// layer; when both are in, this reduces to a call of that helper plus the name filter.
#pragma once

#include <QList>
#include <QString>

namespace tarvik::cli {

struct Card
{
    int index = 0; // the system's interface index, as QNetworkDatagram carries it
    QString name;
};

// Every IPv4 card that is up, running, can broadcast and is not the loopback, or only the one
// named `only` (its system name or its human-readable name). An empty list without error means
// there is no such card: broadcasts then go out by the routing table. A named card that does not
// exist or cannot broadcast is an error.
QList<Card> broadcastCards(const QString& only, QString* error);

// The system name of an interface index ("" for 0 or an unknown index).
QString cardName(int index);

} // namespace tarvik::cli
