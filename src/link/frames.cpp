#include "frames.h"

#include <cstring>

namespace tarvik::frames {

namespace {

QByteArray commandHead(const QByteArray& identity, const Parameter& parameter)
{
    QByteArray frame = identity;
    frame += "AT";
    frame += parameter.code;
    if (parameter.channel)
        frame += parameter.channel;
    return frame;
}

} // namespace

QByteArray identityOf(const QByteArray& discoveryReply)
{
    return discoveryReply.left(kIdentitySize);
}

quint64 identityKey(QByteArrayView datagram)
{
    if (datagram.size() < kIdentitySize)
        return ~quint64(0);
    quint64 key = 0;
    std::memcpy(&key, datagram.constData(), kIdentitySize);
    return key;
}

QByteArray query(const QByteArray& identity, const Parameter& parameter)
{
    QByteArray frame = commandHead(identity, parameter);
    frame += kCR;
    constexpr int kQuerySize = 12;
    if (frame.size() < kQuerySize)
        frame.append(kQuerySize - frame.size(), '\0');
    return frame;
}

std::optional<QByteArray> setting(const QByteArray& identity, const Parameter& parameter, const FieldValue& value)
{
    QByteArray frame = commandHead(identity, parameter);
    frame += '=';
    if (parameter.isDropDown()) {
        frame += static_cast<char>(parameter.base + value.index);
    } else {
        const qsizetype crPosition = frame.size() + value.text.size();
        if (crPosition > kLastFramePosition)
            return std::nullopt;
        for (const QChar c : value.text) {
            if (c.unicode() > 0x7F)
                return std::nullopt;
            frame += static_cast<char>(c.unicode());
        }
    }
    frame += kCR;
    return frame;
}

QByteArray restoreDefaults(const QByteArray& identity)
{
    return identity + "ATDF" + kCR;
}

QByteArray resetAndRun(const QByteArray& identity)
{
    return identity + "END";
}

QByteArray shutdownNotice()
{
    return QByteArray(kIdentitySize, '\xFF') + "END";
}

QByteArray discovery()
{
    return QByteArrayLiteral("SETUP");
}

} // namespace tarvik::frames
