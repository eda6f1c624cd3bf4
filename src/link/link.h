// The device link as the operations see it: one datagram endpoint with a fixed destination.
#pragma once

#include <QByteArray>
#include <QString>

namespace tarvik {

inline constexpr quint16 kLocalPort = 65002;
inline constexpr quint16 kModulePort = 65000;
inline const QString kBroadcastHost = QStringLiteral("255.255.255.255");

class Link
{
public:
    virtual ~Link() = default;
    // The callers only ever pass the limited broadcast address and the modules' port.
    virtual void setDestination(const QString& host, quint16 port) = 0;
    // Hands one datagram to the network stack; false on a send error (a failed bind included).
    virtual bool send(const QByteArray& payload) = 0;
};

} // namespace tarvik
