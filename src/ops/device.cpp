#include "device.h"

#include "ops/replyrule.h"

namespace tarvik::scanning {

bool isPlausibleReply(QByteArrayView datagram)
{
    if (datagram.size() < frames::kIdentitySize)
        return false;
    if (datagram.size() < rule::shortest(Layout::Digit) || datagram.size() > rule::longest(Layout::Digit))
        return true;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const char first = datagram[6];
    const char second = datagram[7];
    return !((isDigit(first) && isDigit(second)) || (first == 'O' && second == 'K'));
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
