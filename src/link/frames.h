// Byte layouts of every request the tool sends to the modules.
//
// A module is addressed by the six identity bytes of its discovery reply at the head of the frame;
// every frame goes to the limited broadcast address, so nothing in it names an IP address.
#pragma once

#include "catalogue.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarvik::frames {

inline constexpr int kIdentitySize = 6;
// Frames are built in a buffer indexed by signed 16-bit positions: the last byte of a frame may
// stand at position 32767 at most.
inline constexpr int kLastFramePosition = 32767;
inline constexpr char kCR = '\r';

// The identity of a module: the first six bytes of its discovery reply.
QByteArray identityOf(const QByteArray& discoveryReply);
// The identity at the start of a datagram as one number, to compare identities in place (a scan
// of a full network compares 254 x 254 of them); all ones, which no six bytes give, when the
// datagram is too short to hold one.
quint64 identityKey(QByteArrayView datagram);

// The value of a window field as a setting carries it: the selected position of a drop-down
// (-1 when none is selected) or the whole text of a text box.
struct FieldValue
{
    int index = -1;
    QString text;
};

// Query of a parameter: identity, "AT", code, channel digit or nothing, CR, then 0x00 up to 12 bytes.
QByteArray query(const QByteArray& identity, const Parameter& parameter);

// Setting of a parameter: identity, "AT", code, channel digit, "=", value, CR.
// A drop-down sends one character, base + position; a text field its text, one byte per character.
// No frame when the text holds a character outside ASCII or the frame would run past kLastFramePosition.
std::optional<QByteArray> setting(const QByteArray& identity, const Parameter& parameter, const FieldValue& value);

QByteArray restoreDefaults(const QByteArray& identity); // identity "ATDF" CR, 11 bytes
QByteArray resetAndRun(const QByteArray& identity);     // identity "END", 9 bytes
QByteArray shutdownNotice();                            // six 0xFF, "END", 9 bytes
QByteArray discovery();                                 // "SETUP", 5 bytes

} // namespace tarvik::frames
