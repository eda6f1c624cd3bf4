#include "decode.h"

#include "link/frames.h"

#include <algorithm>

namespace tarvik::decode {

namespace {

int digitValue(const QByteArray& reply, int offset)
{
    return static_cast<quint8>(reply.at(offset)) - '0';
}

} // namespace

QString digitText(quint8 byte)
{
    return QString::number(static_cast<int>(byte) - '0');
}

QString numberText(const QByteArray& reply, int first, int last)
{
    const QByteArrayView bytes(reply.constData() + first, last - first + 1);
    // Digits, as every reply the modules send has them: their text is the bytes themselves.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return QString::fromLatin1(bytes);
    QString text;
    for (const char c : bytes)
        text += digitText(static_cast<quint8>(c));
    return text;
}

QString valueText(const LayoutRow& layout, const QByteArray& reply)
{
    QString text;
    for (const DigitRun& run : layout) {
        if (&run != layout.begin())
            text += QLatin1Char(layout.separator);
        text += numberText(reply, run.first, run.last);
    }
    return text;
}

QString addressText(const QByteArray& reply)
{
    return valueText(layoutOf(Layout::Address), reply);
}

Value reply(const Parameter& parameter, const QByteArray& reply)
{
    const LayoutRow& layout = layoutOf(parameter.layout);
    Value value;
    if (reply.size() < layout.shortest()) {
        value.kind = Value::Short;
        return value;
    }
    if (!layout.dropDown) {
        value.kind = Value::Text;
        value.text = valueText(layout, reply);
        return value;
    }
    // Two replies rejected are the same only when their bytes are: a read that compares its passes
    // must not find a late reply of one query and another's alike because both are out of range.
    value.text = QString::fromLatin1(reply.mid(frames::kIdentitySize, layout.lastOffset() + 1 - frames::kIdentitySize));
    if (layout.zeroAt >= 0 && reply.at(layout.zeroAt) != '0')
        return value;
    const int v = digitValue(reply, layout.runs[0].first);
    if (v < parameter.lowestDigit() || v > parameter.highestDigit())
        return value;
    value.text.clear();
    value.kind = Value::Entry;
    value.entry = v - parameter.lowestDigit();
    return value;
}

} // namespace tarvik::decode
