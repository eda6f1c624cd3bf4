// The floor: a minimal client without any GUI or event loop, for comparing the tool's exchanges
// with. It binds the tool's port; the caller must be in a private network namespace.
#pragma once

#include "link/link.h"
#include "stats.h"

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvik::bench {

// The floor: one blocking socket on the tool's port, one frame out, one datagram in, 28 times.
class Floor
{
public:
    Floor()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kLocalPort);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            qFatal("floor: cannot bind port 65002");
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(kModulePort);
        m_to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    }
    ~Floor() { close(m_fd); }

    double exchange(const QList<QByteArray>& frames)
    {
        char reply[65536];
        const qint64 t0 = nowNs();
        for (const QByteArray& frame : frames) {
            sendto(m_fd, frame.constData(), static_cast<size_t>(frame.size()), 0,
                   reinterpret_cast<const sockaddr*>(&m_to), sizeof m_to);
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1)
                qFatal("floor: no reply");
            if (recv(m_fd, reply, sizeof reply, 0) < 0)
                qFatal("floor: recv failed");
        }
        return static_cast<double>(nowNs() - t0) / 1e6;
    }

private:
    int m_fd = -1;
    sockaddr_in m_to{};
};

} // namespace tarvik::bench
