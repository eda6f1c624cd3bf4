// What a read of a module sent and took, across its restarts: how the window tells late replies to
// its own repeated queries from the answers it awaits.
//
// A read restarts from its first query when a reply is 400 ms late, so the late reply may come while
// the restarted read runs, or while the next read of the same module does. The reply rule has
// already dropped it when it is of another kind than the answer awaited; what this record adds:
//  - where an earlier attempt of the read took an answer for the query in flight, nothing else
//    answers it (the module answers again what it answered before);
//  - once the read has taken an answer for a query sent more often than answered, an exact copy of
//    that answer is the late one. Two parameters may hold the same value, so such a copy is held,
//    and taken as the answer to the query in flight when nothing else answers it by its deadline.
#pragma once

#include "link/catalogue.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <optional>

namespace tarvik {

class ReadRecord
{
public:
    // Replies later than this after their query are given up for lost.
    static constexpr qint64 kLateReplyMs = 5000;

    // A new read of the module `identity`, at `nowMs` (a monotonic clock). Queries that an earlier
    // read of the same module sent recently and saw no answer to may still be answered.
    void begin(const QByteArray& identity, qint64 nowMs);
    // A restart of the read of `identity`: what the attempts before took is what the module answers
    // again. (A restart of no read of that module begins one.)
    void restart(const QByteArray& identity, qint64 nowMs);
    void sent(int parameter, qint64 nowMs) { m_unanswered.append({parameter, nowMs, ++m_tick}); }

    // Whether `datagram`, fit to answer `parameter` by the reply rule, is instead a late reply
    // (dropped, or held).
    bool isLate(int parameter, const QByteArray& datagram);
    void take(int parameter, const QByteArray& datagram);
    // At the deadline: the datagram held for the query in flight, if any, counted as its answer.
    std::optional<QByteArray> takeHeld();
    // A datagram of the module's that could not answer `parameter`: a late reply to another query,
    // or (`cut`: too short for a reply of any kind) its answer spoilt on the way.
    void refused(int parameter, const QByteArray& datagram, bool cut);

private:
    struct Query
    {
        int parameter;
        qint64 atMs;
        quint64 tick; // when it was sent, among the queries sent and the strays heard
    };
    struct Stray
    {
        QByteArray bytes;
        quint64 tick; // when it came: it answers only a query sent before
    };
    // Takes the oldest unanswered query of `parameter` off the list; nullopt when there is none.
    std::optional<Query> answer(int parameter);
    void stray(const QByteArray& datagram);

    QByteArray m_identity;
    QList<Query> m_unanswered; // oldest first
    std::array<QByteArray, kParameterCount> m_taken;
    std::array<QByteArray, kParameterCount> m_earlier;
    // The module's datagrams that answered nothing, newest last: a late copy may be among them.
    QList<Stray> m_strays;
    quint64 m_tick = 0;
    QByteArray m_held;
    std::optional<Query> m_heldCopyOf; // the unanswered query it was counted as the answer to
};

} // namespace tarvik
