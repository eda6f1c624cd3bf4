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

} // namespace tarvik::scanning
