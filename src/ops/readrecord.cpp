#include "readrecord.h"

namespace tarvik {

void ReadRecord::begin(const QByteArray& identity, qint64 nowMs)
{
    QList<Query> unanswered;
    QList<Stray> strays;
    const quint64 tick = m_tick;
    if (identity == m_identity) {
        for (const Query& query : std::as_const(m_unanswered)) {
            if (nowMs - query.atMs < kLateReplyMs)
                unanswered.append(query);
        }
        strays = m_strays;
    }
    *this = ReadRecord();
    m_identity = identity;
    m_unanswered = unanswered;
    m_strays = strays;
    m_tick = tick;
}

void ReadRecord::restart(const QByteArray& identity, qint64 nowMs)
{
    if (identity != m_identity) {
        begin(identity, nowMs);
        return;
    }
    for (size_t i = 0; i < m_taken.size(); ++i) {
        if (!m_taken[i].isNull())
            m_earlier[i] = m_taken[i];
    }
    m_held = QByteArray();
    m_heldCopyOf.reset();
}

bool ReadRecord::isLate(int parameter, const QByteArray& datagram)
{
    const auto awaited = static_cast<size_t>(parameter);
    if (!m_earlier[awaited].isNull() && datagram != m_earlier[awaited]) {
        stray(datagram);
        return true;
    }
    for (const Query& query : std::as_const(m_unanswered)) {
        const auto other = static_cast<size_t>(query.parameter);
        if (other == awaited || m_taken[other] != datagram)
            continue;
        const std::optional<Query> eaten = answer(query.parameter);
        if (m_held.isNull()) {
            m_held = datagram;
            m_heldCopyOf = eaten;
        }
        return true;
    }
    return false;
}

void ReadRecord::take(int parameter, const QByteArray& datagram)
{
    m_taken[static_cast<size_t>(parameter)] = datagram;
    answer(parameter);
    m_held = QByteArray();
    m_heldCopyOf.reset();
    // A copy that came, while another query was awaited, after a query of this parameter still
    // unanswered was sent, was that query's answer.
    for (const Query& query : std::as_const(m_unanswered)) {
        if (query.parameter != parameter)
            continue;
        for (qsizetype i = 0; i < m_strays.size(); ++i) {
            if (m_strays[i].tick > query.tick && m_strays[i].bytes == datagram) {
                m_strays.removeAt(i);
                answer(parameter);
                return;
            }
        }
        return;
    }
}

std::optional<QByteArray> ReadRecord::takeHeld()
{
    if (m_held.isNull())
        return std::nullopt;
    // Not the late copy after all: that one may still come.
    if (m_heldCopyOf)
        m_unanswered.prepend(*m_heldCopyOf);
    m_heldCopyOf.reset();
    const QByteArray held = m_held;
    m_held = QByteArray();
    return held;
}

void ReadRecord::refused(int parameter, const QByteArray& datagram, bool cut)
{
    if (cut)
        answer(parameter);
    else
        stray(datagram);
}

std::optional<ReadRecord::Query> ReadRecord::answer(int parameter)
{
    for (qsizetype i = 0; i < m_unanswered.size(); ++i) {
        if (m_unanswered[i].parameter == parameter)
            return m_unanswered.takeAt(i);
    }
    return std::nullopt;
}

void ReadRecord::stray(const QByteArray& datagram)
{
    // A read is 28 exchanges: a few strays are all that a late copy can be among.
    constexpr qsizetype kKept = 16;
    if (m_strays.size() == kKept)
        m_strays.removeFirst();
    m_strays.append({datagram, ++m_tick});
}

} // namespace tarvik
