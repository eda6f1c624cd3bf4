// Whether a datagram answers the exchange in flight with one module: the one rule of the window's
// operations and of tarvik-cli's engine.
//
// The modules answer by broadcast, so every PC on the LAN hears every module's replies, and a reply
// carries nothing that names the request it answers. A datagram is taken as the answer only when
//  - it came on the card the module answered the scan on (when both cards are known);
//  - bytes 0-5 are the module's identity. A module never yet seen answering with its identity may
//    be one that leaves it out: its replies are taken without the check, except those that carry
//    the identity of another listed module;
//  - its length fits what is awaited: every layout's replies run from its own shortest length up
//    to the next longer layout's shortest, so a reply of one layout is never taken for another (an
//    acknowledgement is read at bytes 6 and 7, like a one-digit reply, and may be longer);
//  - digits stand where the value's digits belong: a number's, an address's, and a drop-down's digit
//    (a late "OK" has a one-digit reply's length).
// Anything else is not an answer: as if it had not arrived.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"
#include "link/link.h"

#include <QByteArrayView>
#include <QString>

namespace tarvik::rule {

enum class Verdict : quint8
{
    Answer,       // the module's answer, carrying its identity
    Unidentified, // an answer without the module's identity, taken as the module was never seen to carry it
    OtherCard,
    OtherModule, // another listed module's identity
    Stranger,    // an identity that is not the module's, from a module seen to carry its own
    // The module's (or, unidentified, possibly its), but not the answer awaited:
    WrongLength, // too short, or as long as another layout's replies
    NotDigits,
};

constexpr bool isAnswer(Verdict verdict)
{
    return verdict == Verdict::Answer || verdict == Verdict::Unidentified;
}

// Why a datagram of this verdict is not the answer, in English, for the wire's log and captures.
QString why(Verdict verdict);

// The module in conversation.
struct Peer
{
    QByteArrayView identity;     // six bytes
    int card = kAnyCard;         // the card it answered the scan on
    bool carriesIdentity = true; // seen answering with its identity: every reply must carry it
};

// The shortest reply of a layout: it ends at the layout's last byte.
int shortest(Layout layout);
// The longest reply a layout is taken from: one byte short of the next longer layout's shortest.
int longest(Layout layout);
// Whether every byte of the value is a digit: where a number or an address has them, and for a
// drop-down its digit and the "0" before it (an out-of-range digit is the read's own message).
bool valueIsDigits(const Parameter& parameter, QByteArrayView datagram);

// Whether a datagram of `size` bytes may answer `awaited` (nullptr: an acknowledgement).
bool fitsLength(const Parameter* awaited, qsizetype size);

// Judges one datagram for the exchange in flight. `awaited` is the parameter a read asks for, or
// nullptr for an acknowledgement (a setting, restoring defaults). `isListed(identity)` tells
// whether six bytes are the identity of another listed module; it is asked only about identities
// that are not the module's own.
template <typename IsListed>
Verdict judge(const Peer& peer, const Parameter* awaited, QByteArrayView datagram, int card, IsListed&& isListed)
{
    if (peer.card != kAnyCard && card != kAnyCard && card != peer.card)
        return Verdict::OtherCard;
    if (datagram.size() < frames::kIdentitySize)
        return Verdict::WrongLength;
    const QByteArrayView identity = datagram.first(frames::kIdentitySize);
    const bool own = identity == peer.identity;
    if (!own && isListed(identity))
        return Verdict::OtherModule;
    if (!own && peer.carriesIdentity)
        return Verdict::Stranger;
    if (!fitsLength(awaited, datagram.size()))
        return Verdict::WrongLength;
    if (awaited && !valueIsDigits(*awaited, datagram))
        return Verdict::NotDigits;
    return own ? Verdict::Answer : Verdict::Unidentified;
}

} // namespace tarvik::rule
