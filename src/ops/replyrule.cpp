#include "replyrule.h"

#include <algorithm>
#include <array>
#include <limits>

namespace tarvik::rule {

QString why(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Answer:
    case Verdict::Unidentified:
        break;
    case Verdict::OtherCard:
        return QStringLiteral("it came on another card than the one the module answered the scan on");
    case Verdict::OtherModule:
        return QStringLiteral("it carries another listed module's identity");
    case Verdict::Stranger:
        return QStringLiteral("it carries an identity that is not the module's");
    case Verdict::WrongLength:
        return QStringLiteral("its length does not fit the reply awaited");
    case Verdict::NotDigits:
        return QStringLiteral("not digits where the value's digits belong");
    }
    return {};
}

namespace {

constexpr int shortestOf(Layout layout)
{
    return layoutOf(layout).shortest();
}

// The shortest reply of another layout that is longer than `length`.
constexpr int nextLongerThan(int length)
{
    int next = std::numeric_limits<int>::max();
    for (const Parameter& p : kParameters) {
        if (shortestOf(p.layout) > length)
            next = std::min(next, shortestOf(p.layout));
    }
    return next;
}

// Worked out once per layout: every datagram that arrives is measured against it.
constexpr auto kLongest = [] {
    std::array<int, kLayoutCount> longest{};
    for (size_t i = 0; i < longest.size(); ++i) {
        const int next = nextLongerThan(shortestOf(static_cast<Layout>(i)));
        longest[i] = next == std::numeric_limits<int>::max() ? next : next - 1;
    }
    return longest;
}();

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool digitsAt(QByteArrayView datagram, int first, int last)
{
    for (int i = first; i <= last; ++i) {
        if (!isDigit(datagram[i]))
            return false;
    }
    return true;
}

} // namespace

int shortest(Layout layout)
{
    return shortestOf(layout);
}

int longest(Layout layout)
{
    return kLongest[static_cast<size_t>(layout)];
}

bool fitsLength(const Parameter* awaited, qsizetype size)
{
    // An acknowledgement is read at bytes 6 and 7, as a one-digit reply is.
    if (!awaited)
        return size >= shortest(Layout::Digit);
    return size >= shortest(awaited->layout) && size <= longest(awaited->layout);
}

bool valueIsDigits(const Parameter& parameter, QByteArrayView datagram)
{
    const LayoutRow& layout = layoutOf(parameter.layout);
    if (layout.zeroAt >= 0 && !isDigit(datagram[layout.zeroAt]))
        return false;
    return std::all_of(layout.begin(), layout.end(),
                       [&](const DigitRun& run) { return digitsAt(datagram, run.first, run.last); });
}

} // namespace tarvik::rule
