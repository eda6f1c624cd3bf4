// The LAN a fuzz run plays on, shared by the window's target and tarvik-cli's: modules that answer
// what the tool sends them, and a network that the input drives, on a clock of its own.
//
// What the network may do, as the input says:
//  - lose any datagram, the tool's or a module's, and delay a module's reply by any time up to the
//    tool's limit for late replies (so that replies come late, after their time-out, and in another
//    order); a reply held back longer is lost, as the tool takes it to be;
//  - in a case that copies (the network of a loop or of two paths), deliver every datagram a module
//    sends twice, the copy right after the original; a loss or a delay then takes both;
//  - bring strangers' datagrams (an identity of no module in conversation: another module's, an
//    unknown one, any bytes and length) and another PC's scan (a listed module's discovery reply,
//    at any time, once).
// What it never does, as no rule can see through it: forge a module's identity, bring a stranger's
// answer to a module that has not yet shown its own identity (the two cannot be told apart), or
// time other PCs' scans into the same query of two passes (nor could anything tell such a reply
// from the answer of a module whose answer is its discovery reply).
#pragma once

#include "check.h"
#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/conversation.h"
#include "ops/decode.h"
#include "ops/paramfile.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace tarvik::fuzz {

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    int length()
    {
        const int low = byte();
        return low | (byte() << 8);
    }
    const uint8_t* take(size_t n)
    {
        const uint8_t* p = m_data + m_pos;
        m_pos += std::min(n, left());
        return p;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Whether two datagrams begin with the same identity. As numbers, not through memcmp: the fuzzer
// hooks every memcmp that differs, and the LAN compares identities for every frame and module.
inline bool sameIdentity(QByteArrayView a, QByteArrayView b)
{
    return a.size() >= frames::kIdentitySize && b.size() >= frames::kIdentitySize &&
           frames::identityKey(a) == frames::identityKey(b);
}

// A module of the LAN: what it holds, and how it answers.
struct Module
{
    QByteArray identity;
    QByteArray discovery;
    int card = 0;                                    // the card the tool hears it on
    std::array<QByteArray, kParameterCount> holds;   // each parameter's reply from byte 6 on
    std::array<QByteArray, kParameterCount> factory; // what ATDF puts back
    bool leavesIdentityOut = false;
    bool silent = false; // answers nothing

    // Module n: a value of its own for every parameter, different between parameters and modules
    // wherever the layout allows.
    static Module number(int n, const QByteArray& identity, int card)
    {
        Module m;
        m.identity = identity;
        m.card = card;
        for (const Parameter& p : kParameters) {
            const int i = indexOf(p);
            QByteArray& value = m.holds[static_cast<size_t>(i)];
            switch (p.layout) {
            case Layout::Digit:
            case Layout::ZeroDigit:
                value = QByteArray("0") + static_cast<char>(p.base + (n * 7 + i * 3) % p.entries.count);
                break;
            case Layout::Number4:
                value = QByteArray("0") + QByteArray::number(1000 + (n * 131 + i * 17) % 9000);
                break;
            case Layout::Number5:
                value = QByteArray::number(10000 + (n * 977 + i * 31) % 55000);
                break;
            case Layout::Address:
                value = QStringLiteral("%1.%2.%3.%4")
                            .arg(n % 256, 3, 10, QLatin1Char('0'))
                            .arg(i, 3, 10, QLatin1Char('0'))
                            .arg(n * 13 % 256, 3, 10, QLatin1Char('0'))
                            .arg(i * 7 % 256, 3, 10, QLatin1Char('0'))
                            .toLatin1();
                break;
            }
        }
        m.factory = m.holds;
        // As the simulator's: its own address and a version after the identity.
        m.discovery = identity + m.holds[static_cast<size_t>(fieldNamed("S_IP"))] + "/V3.1";
        return m;
    }

    // The value it holds, as a read decodes it.
    frames::FieldValue held(const Parameter& p) const
    {
        const decode::Value v = decode::reply(p, identity + holds[static_cast<size_t>(indexOf(p))]);
        return {v.kind == decode::Value::Entry ? v.entry : -1, v.kind == decode::Value::Text ? v.text : QString()};
    }

    // Its answer to a frame (empty: none): a query's value; "OK" to a setting it stores and to ATDF,
    // "ER" to a setting whose value it cannot take.
    QByteArray answer(const QByteArray& frame)
    {
        if (silent || frame.size() < 9 || !sameIdentity(frame, identity))
            return {};
        const QByteArray head = leavesIdentityOut ? QByteArray(frames::kIdentitySize, '\0') : identity;
        const QByteArrayView tail = QByteArrayView(frame).sliced(frames::kIdentitySize);
        if (tail == QByteArrayView("ATDF\r")) {
            holds = factory;
            return head + "OK";
        }
        const Parameter* p = commandOf(tail);
        if (!p)
            return {};
        const auto i = static_cast<size_t>(indexOf(*p));
        const qsizetype code = 2 + 2 + (p->channel ? 1 : 0);
        if (tail.size() == 6 && tail.sliced(code).startsWith("\r"))
            return head + holds[i];
        if (tail.size() < code + 2 || tail[code] != '=' || !tail.endsWith("\r"))
            return {};
        const QByteArray value = stored(*p, tail.sliced(code + 1, tail.size() - code - 2).toByteArray());
        if (value.isEmpty())
            return head + "ER";
        holds[i] = value;
        return head + "OK";
    }

    // The parameter whose command a frame's tail (after the identity) carries.
    static const Parameter* commandOf(QByteArrayView tail)
    {
        if (tail.size() < 5 || tail[0] != 'A' || tail[1] != 'T')
            return nullptr;
        for (const Parameter& p : kParameters) {
            if (tail[2] == p.code[0] && tail[3] == p.code[1] && (!p.channel || tail[4] == p.channel))
                return &p;
        }
        return nullptr;
    }

    // A setting's value as a module stores it, in its fixed-width form; empty when it refuses it.
    static QByteArray stored(const Parameter& p, const QByteArray& text)
    {
        bool ok = false;
        switch (p.layout) {
        case Layout::Digit:
        case Layout::ZeroDigit: {
            const int v = text.size() == 1 ? text[0] - p.base : -1;
            return v >= 0 && v < p.entries.count ? QByteArray("0") + text : QByteArray();
        }
        case Layout::Number4:
        case Layout::Number5: {
            const int v = text.toInt(&ok);
            if (!ok || text.isEmpty() || text.size() > 5 || v < 0 || v > paramfile::largestNumber(p.layout))
                return {};
            return QByteArray::number(v).rightJustified(5, '0');
        }
        case Layout::Address: {
            const QList<QByteArray> parts = text.split('.');
            if (parts.size() != 4)
                return {};
            QByteArray result;
            for (const QByteArray& part : parts) {
                const int v = part.toInt(&ok);
                if (!ok || part.isEmpty() || v < 0 || v > 255)
                    return {};
                result += (result.isEmpty() ? "" : ".") + QByteArray::number(v).rightJustified(3, '0');
            }
            return result;
        }
        }
        return {};
    }
};

// The network between the tool and the modules.
class Network
{
public:
    static constexpr int kLatencyMs = 2; // a module answers this long after a request

    struct Datagram
    {
        QByteArray bytes;
        int card;
        qint64 due;
        int module;  // whose (-1: a stranger's)
        bool copy;   // made by the network
        qint64 sent; // when it set out
    };

    bool copies = false; // every module datagram twice
    qint64 now = 0;
    std::vector<Module> modules;
    std::vector<Datagram> inFlight; // in the order they come
    bool loseNextFrame = false;     // the tool's next frame is lost on its way

    // The tool sent `frame` through `card` (kAnyCard: all of them).
    void sent(const QByteArray& frame, int card)
    {
        if (loseNextFrame) {
            loseNextFrame = false;
            return;
        }
        const bool discovery = frame == frames::discovery();
        for (size_t i = 0; i < modules.size(); ++i) {
            Module& m = modules[i];
            if ((card != 0 && card != m.card) || (!discovery && !sameIdentity(frame, m.identity)))
                continue;
            const QByteArray reply = !discovery ? m.answer(frame) : m.silent ? QByteArray() : m.discovery;
            if (!reply.isEmpty())
                arrive(reply, m.card, now + kLatencyMs, static_cast<int>(i));
        }
    }

    // A datagram on its way (copied, in a case that copies, when a module sent it).
    void arrive(const QByteArray& bytes, int card, qint64 due, int module)
    {
        auto at = std::find_if(inFlight.begin(), inFlight.end(), [due](const Datagram& d) { return d.due > due; });
        at = inFlight.insert(at, {bytes, card, due, module, false, now});
        if (copies && module >= 0)
            inFlight.insert(at + 1, {bytes, card, due, module, true, now});
    }

    // Takes the first datagram on its way off the network, with its copy if one follows it: a copy
    // comes right after its original, nothing between them.
    std::vector<Datagram> takeFirst()
    {
        const size_t n = firstCount();
        std::vector<Datagram> taken(inFlight.begin(), inFlight.begin() + static_cast<qsizetype>(n));
        inFlight.erase(inFlight.begin(), inFlight.begin() + static_cast<qsizetype>(n));
        now = std::max(now, taken.front().due);
        return taken;
    }

    // The first datagram on its way and its copy, if any.
    size_t firstCount() const
    {
        return inFlight.size() > 1 && inFlight[1].copy && inFlight[1].bytes == inFlight[0].bytes ? 2 : 1;
    }
    void loseFirst()
    {
        if (!inFlight.empty())
            inFlight.erase(inFlight.begin(), inFlight.begin() + static_cast<qsizetype>(firstCount()));
    }
    void delayFirst(qint64 ms)
    {
        if (inFlight.empty())
            return;
        std::vector<Datagram> moved(inFlight.begin(), inFlight.begin() + static_cast<qsizetype>(firstCount()));
        inFlight.erase(inFlight.begin(), inFlight.begin() + static_cast<qsizetype>(moved.size()));
        const qint64 due = std::max(now, moved.front().due) + ms;
        if (due - moved.front().sent > talk::Ledger::kLateReplyMs)
            return; // given up for lost
        auto at = std::find_if(inFlight.begin(), inFlight.end(), [due](const Datagram& d) { return d.due > due; });
        for (Datagram& d : moved)
            d.due = due;
        inFlight.insert(at, moved.begin(), moved.end());
    }

    int moduleOf(QByteArrayView identity) const
    {
        for (size_t i = 0; i < modules.size(); ++i) {
            if (identity.size() == modules[i].identity.size() && sameIdentity(modules[i].identity, identity))
                return static_cast<int>(i);
        }
        return -1;
    }
};

// The values a module holds, against a module's read as the tool reports it.
inline bool holdsExactly(const Module& m, const paramfile::Values& values)
{
    for (const Parameter& p : kParameters) {
        const frames::FieldValue h = m.held(p);
        const auto& v = values[static_cast<size_t>(indexOf(p))];
        if (!v || v->index != h.index || v->text != h.text)
            return false;
    }
    return true;
}

} // namespace tarvik::fuzz
