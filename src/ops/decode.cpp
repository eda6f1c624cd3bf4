#include "decode.h"

#include <QStringList>

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
    QString text;
    for (int i = first; i <= last; ++i)
        text += digitText(static_cast<quint8>(reply.at(i)));
    return text;
}

QString addressText(const QByteArray& reply)
{
    return QStringList{numberText(reply, 6, 8), numberText(reply, 10, 12), numberText(reply, 14, 16),
                       numberText(reply, 18, 20)}
        .join(QLatin1Char('.'));
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
