#include "device.h"

#include "ops/replyrule.h"

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

void heardAgain(Device& device, Heard& heard, const QByteArray& datagram, int card)
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
}

} // namespace tarvik::scanning
