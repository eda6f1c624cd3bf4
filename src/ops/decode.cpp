#include "decode.h"

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

QString addressText(const QByteArray& reply)
{
    QString text = numberText(reply, 6, 8);
    for (const int first : {10, 14, 18})
        text += QLatin1Char('.') + numberText(reply, first, first + 2);
    return text;
}

Value reply(const Parameter& parameter, const QByteArray& reply)
{
    Value value;
    if (reply.size() <= lastOffset(parameter.layout)) {
        value.kind = Value::Short;
        return value;
    }

    switch (parameter.layout) {
    case Layout::ZeroDigit:
        if (reply.at(6) != '0')
            return value;
        [[fallthrough]];
    case Layout::Digit: {
        const int v = digitValue(reply, 7);
        if (v < parameter.lowestDigit() || v > parameter.highestDigit())
            return value;
        value.kind = Value::Entry;
        value.entry = v - parameter.lowestDigit();
        return value;
    }
    case Layout::Number4:
        value.kind = Value::Text;
        value.text = numberText(reply, 7, 10);
        return value;
    case Layout::Number5:
        value.kind = Value::Text;
        value.text = numberText(reply, 6, 10);
        return value;
    case Layout::Address:
        value.kind = Value::Text;
        value.text = addressText(reply);
        return value;
    }
    return value;
}

} // namespace tarvik::decode
