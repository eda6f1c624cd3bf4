// A module as the scan found it: the one record the window's device table and tarvik-cli keep of it,
// and the scan's rules for the datagrams it hears.
#pragma once

#include "link/frames.h"
#include "link/link.h"

#include <QByteArray>
#include <QByteArrayView>

namespace tarvik {

struct Device
{
    QByteArray identity;          // six bytes: the head of every request to it
    int card = kAnyCard;          // the card its discovery reply came on: its replies are heard there
    int sendCard = kAnyCard;      // the card its requests go out through (kAnyCard: the routing table)
    QByteArray discovery;         // its whole discovery reply
    bool carriesIdentity = false; // seen answering a request with its identity at the head
    // Its discovery reply came twice in one round of a scan on its card: the network copies
    // datagrams, and what it answers is confirmed before it counts.
    bool copiesSeen = false;
    // Another datagram of its that a scan heard in as many rounds on its card as the discovery reply
    // kept: which of the two answers SETUP cannot be told (empty: none).
    QByteArray rival;

    // Whether a datagram may be its answer to somebody's SETUP.
    bool mayBeDiscovery(const QByteArray& datagram) const
    {
        return datagram == discovery || (!rival.isEmpty() && datagram == rival);
    }

    // A module listed from its discovery reply, heard on `card`, addressed through it.
    static Device fromDiscovery(const QByteArray& reply, int card)
    {
        return {frames::identityOf(reply), card, card, reply, false, false, {}};
    }
};

namespace scanning {

// Whether a datagram heard while modules answer SETUP can be a module's discovery reply: it holds an
// identity, and it is not shaped like the module's answer to somebody's query of the one-digit kind
// or setting (8 to 10 bytes with two digits, "OK" or another code of two capitals or digits after the
// identity), which another PC's conversation with the module makes it send to every PC on the LAN.
bool isPlausibleReply(QByteArrayView datagram);

// The position of the module with this identity among the first `count` devices, or -1: the scan's
// duplicate filter, and whether an identity is that of a listed module.
template <typename Devices> int indexOf(const Devices& devices, int count, QByteArrayView identity)
{
    if (identity.size() < frames::kIdentitySize)
        return -1;
    const quint64 key = frames::identityKey(identity);
    for (int i = 0; i < count; ++i) {
        if (frames::identityKey(devices[static_cast<size_t>(i)].identity) == key)
            return i;
    }
    return -1;
}

// What one scan has heard of a module listed: its first answer to this scan names its card, and
// a second identical answer within one round on that card shows that the network copies datagrams.
// The datagram it answers most of the scan's rounds with is its discovery reply: the first heard may
// have been its answer to another PC's query.
struct Heard
{
    bool thisScan = false;
    bool thisRound = false;
    int card = kAnyCard;
    int rounds = 1;            // those in which its discovery reply as kept came (one: it was listed from it)
    bool roundCounted = false; // this round is one of them
    QByteArray other;          // another datagram of its heard in this scan's rounds
    int otherRounds = 0;       // and in how many
    bool otherCounted = false; // this round is one of them

    // Heard of a module listed just now, from a datagram on `card` (`inRound`: while the scan's rounds run).
    static Heard listed(int card, bool inRound) { return {true, true, card, inRound ? 1 : 0, inRound, {}, 0, false}; }
    void newRound() { thisRound = roundCounted = otherCounted = false; }
};

// The rule of a scan for a datagram of a module listed already (`device`, with what this scan has
// heard of it; `inRound`: while the scan's rounds run): the card of its first answer is its card from
// then on, a copy is noted, and what it answers more rounds with than its discovery reply as kept
// becomes its discovery reply; what it answers as many with is its rival.
void heardAgain(Device& device, Heard& heard, const QByteArray& datagram, int card, bool inRound);

} // namespace scanning

} // namespace tarvik
