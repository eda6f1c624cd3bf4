// The device link as the operations see it: one datagram endpoint that sends every datagram to
// the modules' port at the limited broadcast address.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace tarvik {

inline constexpr quint16 kLocalPort = 65002;  // the tool sends from and receives on this port
inline constexpr quint16 kModulePort = 65000; // the modules listen here

class Link
{
public:
    virtual ~Link() = default;
    // Hands one datagram to the network stack; false on a send error (a failed bind included).
    virtual bool send(const QByteArray& payload) = 0;
};

} // namespace tarvik
