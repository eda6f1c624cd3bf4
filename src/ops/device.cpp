#include "device.h"

#include "ops/replyrule.h"

#include <utility>

namespace tarvik::scanning {

bool isPlausibleReply(QByteArrayView datagram)
{
    if (datagram.size() < frames::kIdentitySize)
        return false;
    if (datagram.size() < rule::shortest(Layout::Digit) || datagram.size() > rule::longest(Layout::Digit))
        return true;
    // Two digits (a one-digit reply), "OK", or another code a module answers a setting it refuses
    // with ("ER"): digits and capitals.
    const auto isCode = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); };
    return !(isCode(datagram[6]) && isCode(datagram[7]));
}

void heardAgain(Device& device, Heard& heard, const QByteArray& datagram, int card, bool inRound)
{
    // A module heard on two cards keeps the first; one whose card was replaced (an adapter
    // plugged in again) is reached through the new one.
    if (!heard.thisScan) {
        heard.thisScan = true;
        device.card = device.sendCard = card;
    }
    if (heard.thisRound && heard.card == card && datagram == device.discovery)
        device.copiesSeen = true;
    heard.thisRound = true;
    heard.card = card;
    if (!inRound || card != device.card)
        return;
    if (datagram == device.discovery) {
        heard.rounds += heard.roundCounted ? 0 : 1;
        heard.roundCounted = true;
    } else {
        if (datagram != heard.other) {
            heard.other = datagram;
            heard.otherRounds = 0;
            heard.otherCounted = false;
        }
        heard.otherRounds += heard.otherCounted ? 0 : 1;
        heard.otherCounted = true;
        if (heard.otherRounds > heard.rounds) {
            std::swap(device.discovery, heard.other);
            std::swap(heard.rounds, heard.otherRounds);
            std::swap(heard.roundCounted, heard.otherCounted);
        }
    }
    device.rival = heard.otherRounds == heard.rounds ? heard.other : QByteArray();
}

} // namespace tarvik::scanning
