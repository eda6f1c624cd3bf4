#include "wirelog.h"

namespace tarvik::wire {

Q_LOGGING_CATEGORY(lcWire, "tarvik.wire", QtWarningMsg)

namespace {

Tap* g_tap = nullptr;
Arrival* g_arrival = nullptr; // innermost bracket open

QString describe(const QByteArray& datagram, int card)
{
    return QStringLiteral("%1 bytes on card %2: %3")
        .arg(datagram.size())
        .arg(card)
        .arg(QString::fromLatin1(datagram.left(64).toHex(' ')) +
             (datagram.size() > 64 ? QStringLiteral(" ...") : QString()));
}

} // namespace

void setTap(Tap* tap)
{
    g_tap = tap;
}

Tap* tap()
{
    return g_tap;
}

Arrival::Arrival(Datagram datagram) : m_datagram(std::move(datagram)), m_outer(g_arrival)
{
    g_arrival = this;
}

Arrival::~Arrival()
{
    g_arrival = m_outer;
    if (g_tap)
        g_tap->received(m_datagram, m_judged ? m_verdict : QStringLiteral("not looked at: nothing awaited it"));
}

void taken()
{
    if (g_arrival) {
        g_arrival->m_judged = true;
        g_arrival->m_verdict.clear();
    }
}

void notTaken(const QByteArray& datagram, int card, const QString& why)
{
    qCDebug(lcWire).noquote() << "not taken:" << why << "-" << describe(datagram, card);
    if (g_arrival && !g_arrival->m_judged) {
        g_arrival->m_judged = true;
        g_arrival->m_verdict = why;
    }
}

void sendFailed(const QByteArray& payload, int card, const QString& reason)
{
    qCDebug(lcWire).noquote() << "send failed:" << reason << "-" << describe(payload, card);
}

} // namespace tarvik::wire
