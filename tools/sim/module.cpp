#include "module.h"

#include <QRegularExpression>

namespace tarvik::sim {

namespace {

using K = Kind;

constexpr quint32 address(quint32 a, quint32 b, quint32 c, quint32 d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

constexpr int kOwnAddress = 2; // index of "IP" in kCommands

// Factory values, in the order of kCommands. Keep the table in the --help text and the README in step.
// clang-format off
constexpr std::array<quint32, kCommandCount> kFactory = {
    0,                         // ET  auto-negotiation
    address(192, 168, 1, 1),   // GA  gateway
    address(192, 168, 1, 101), // IP  own address (+ module index)
    address(255, 255, 255, 0), // SM  subnet mask
    1,                         // EC  display on
    3,                         // UB  9600 bit/s
    0,                         // UT  no flow control
    8,                         // UD  8 data bits
    20,                        // TM  a pause of 20 ms ends a packet
    512,                       // BT  512 bytes end a packet
    0,                         // UP  no parity
    1,                         // US  1 stop bit
    1, 5000, address(192, 168, 1, 200), 6000, // channel 1: TCP server
    2, 5001, address(192, 168, 1, 200), 6001, // channel 2: TCP client
    3, 5002, address(192, 168, 1, 201), 6002, // channel 3: UDP mode 0
    0, 5003, address(0, 0, 0, 0), 0,          // channel 4: closed
};
// clang-format on

} // namespace

const std::array<Command, kCommandCount> kCommands = {{
    {"ET", 1, "Ethernet link mode", K::Digit, 0, 5},
    {"GA", 2, "gateway address", K::Address, 0, 0},
    {"IP", 3, "own IP address", K::Address, 0, 0},
    {"SM", 4, "subnet mask", K::Address, 0, 0},
    {"EC", 5, "display control", K::Digit, 0, 1},
    {"UB", 7, "baud rate", K::Digit, 0, 8},
    {"UT", 8, "flow control", K::Digit, 0, 1},
    {"UD", 9, "data bits", K::Digit, 8, 9},
    {"TM", 10, "packet splitting by time", K::Number, 0, 9999},
    {"BT", 11, "packet splitting by byte count", K::Number, 0, 9999},
    {"UP", 12, "parity", K::Digit, 0, 2},
    {"US", 13, "stop bits", K::Digit, 1, 2},
    {"SR1", 14, "channel 1 port mode", K::Digit, 0, 4},
    {"PT1", 15, "channel 1 local port", K::Number, 0, 65535},
    {"DA1", 16, "channel 1 destination address", K::Address, 0, 0},
    {"DP1", 17, "channel 1 destination port", K::Number, 0, 65535},
    {"SR2", 19, "channel 2 port mode", K::Digit, 0, 4},
    {"PT2", 20, "channel 2 local port", K::Number, 0, 65535},
    {"DA2", 21, "channel 2 destination address", K::Address, 0, 0},
    {"DP2", 22, "channel 2 destination port", K::Number, 0, 65535},
    {"SR3", 25, "channel 3 port mode", K::Digit, 0, 4},
    {"PT3", 26, "channel 3 local port", K::Number, 0, 65535},
    {"DA3", 27, "channel 3 destination address", K::Address, 0, 0},
    {"DP3", 28, "channel 3 destination port", K::Number, 0, 65535},
    {"SR4", 29, "channel 4 port mode", K::Digit, 0, 4},
    {"PT4", 30, "channel 4 local port", K::Number, 0, 65535},
    {"DA4", 31, "channel 4 destination address", K::Address, 0, 0},
    {"DP4", 32, "channel 4 destination port", K::Number, 0, 65535},
}};

int commandIndex(const QByteArray& code)
{
    for (int i = 0; i < kCommandCount; ++i) {
        if (code == kCommands[static_cast<size_t>(i)].code)
            return i;
    }
    return -1;
}

Values factoryValues(int index)
{
    Values values = kFactory;
    values[kOwnAddress] += static_cast<quint32>(index) & 0x7F; // 101 .. 228 stays one byte
    return values;
}

QByteArray replyText(Kind kind, quint32 value)
{
    switch (kind) {
    case Kind::Digit:
        return QByteArray("0") + QByteArray::number(value % 10);
    case Kind::Number:
        return QByteArray::number(value).rightJustified(5, '0');
    case Kind::Address: {
        QByteArray text;
        for (int shift = 24; shift >= 0; shift -= 8) {
            if (!text.isEmpty())
                text += '.';
            text += QByteArray::number((value >> shift) & 0xFF).rightJustified(3, '0');
        }
        return text;
    }
    }
    return {};
}

std::optional<quint32> parseValue(const Command& command, const QByteArray& text)
{
    static const QRegularExpression kDigits(QStringLiteral("^[0-9]{1,5}$"));
    static const QRegularExpression kAddress(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QString value = QString::fromLatin1(text);
    switch (command.kind) {
    case Kind::Digit: {
        if (text.size() != 1 || text[0] < '0' || text[0] > '9')
            return std::nullopt;
        const int digit = text[0] - '0';
        if (digit < command.min || digit > command.max)
            return std::nullopt;
        return static_cast<quint32>(digit);
    }
    case Kind::Number: {
        if (!kDigits.match(value).hasMatch())
            return std::nullopt;
        const quint32 number = value.toUInt();
        if (number > static_cast<quint32>(command.max))
            return std::nullopt;
        return number;
    }
    case Kind::Address: {
        const QRegularExpressionMatch match = kAddress.match(value);
        if (!match.hasMatch())
            return std::nullopt;
        quint32 packed = 0;
        for (int group = 1; group <= 4; ++group) {
            const quint32 part = match.captured(group).toUInt();
            if (part > 255)
                return std::nullopt;
            packed = (packed << 8) | part;
        }
        return packed;
    }
    }
    return std::nullopt;
}

std::optional<QByteArray> identityFromHex(const QString& hex)
{
    static const QRegularExpression kHex(QStringLiteral("^[0-9A-Fa-f]{12}$"));
    QString compact = hex;
    compact.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    if (!kHex.match(compact).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(compact.toLatin1());
}

QString identityHex(const QByteArray& identity)
{
    return QString::fromLatin1(identity.toHex().toUpper());
}

QByteArray identityPlus(const QByteArray& first, int index)
{
    quint64 number = 0;
    for (char byte : first)
        number = (number << 8) | static_cast<quint8>(byte);
    number += static_cast<quint64>(index);
    QByteArray identity(kIdentitySize, '\0');
    for (int i = kIdentitySize - 1; i >= 0; --i) {
        identity[i] = static_cast<char>(number & 0xFF);
        number >>= 8;
    }
    return identity;
}

Module::Module(QByteArray identity, int index)
    : m_identity(std::move(identity)), m_index(index), m_values(factoryValues(index))
{
}

QByteArray Module::valueText(const QByteArray& code) const
{
    const int i = commandIndex(code);
    if (i < 0)
        return {};
    return replyText(kCommands[static_cast<size_t>(i)].kind, value(i));
}

QByteArray Module::discoveryReply() const
{
    return m_identity + replyText(Kind::Address, value(kOwnAddress)) + '/' + kFirmware;
}

Request Module::classify(const QByteArray& datagram) const
{
    Request request;
    if (datagram == "SETUP") {
        request.type = Request::Discovery;
        request.key = "SETUP";
        return request;
    }
    if (datagram.size() < kIdentitySize)
        return request;
    const QByteArray head = datagram.left(kIdentitySize);
    const QByteArray rest = datagram.mid(kIdentitySize);
    // Six 0xFF address every module, but only to reset them all.
    if (head == QByteArray(kIdentitySize, '\xFF')) {
        if (rest == "END") {
            request.type = Request::Reset;
            request.key = "END";
        }
        return request;
    }
    if (head != m_identity || !m_configuring)
        return request;

    if (rest == "END") {
        request.type = Request::Reset;
        request.key = "END";
        return request;
    }
    if (!rest.startsWith("AT"))
        return request;

    request.type = Request::Malformed;
    request.key = "AT";
    if (rest == "ATDF\r") {
        request.type = Request::Defaults;
        request.key = "DF";
        return request;
    }
    // The code: two letters, and a channel digit for the four per-channel commands.
    QByteArray code = rest.mid(2, 2);
    int next = 4;
    if (code == "SR" || code == "PT" || code == "DA" || code == "DP") {
        code += rest.mid(4, 1);
        next = 5;
    }
    const int command = commandIndex(code);
    if (command < 0 || rest.size() <= next)
        return request;

    if (rest[next] == '\r') {
        // A query is 12 bytes in all: the CR, then 0x00 up to the end.
        const QByteArray padding = rest.mid(next + 1);
        if (datagram.size() != 12 || padding.count('\0') != padding.size())
            return request;
        request.type = Request::Query;
        request.command = command;
        request.key = code + '?';
        return request;
    }
    if (rest[next] == '=') {
        if (!rest.endsWith('\r'))
            return request;
        request.value = rest.mid(next + 1, rest.size() - next - 2);
        if (request.value.contains('\r'))
            return request;
        request.type = Request::Setting;
        request.command = command;
        request.key = code + '=';
        return request;
    }
    return request;
}

std::optional<QByteArray> Module::handle(const Request& request, bool refuse)
{
    const QByteArray refused = reply("ER");
    switch (request.type) {
    case Request::NotForUs:
        return std::nullopt;
    case Request::Discovery:
        m_configuring = true;
        return discoveryReply();
    case Request::Reset:
        // The module restarts with what it stores and leaves configuration; it says nothing.
        m_configuring = false;
        return std::nullopt;
    case Request::Malformed:
        return refused;
    case Request::Defaults:
        if (refuse)
            return refused;
        restoreFactory();
        return reply("OK");
    case Request::Query:
        if (refuse)
            return refused;
        return reply(replyText(kCommands[static_cast<size_t>(request.command)].kind, value(request.command)));
    case Request::Setting: {
        if (refuse)
            return refused;
        const std::optional<quint32> parsed =
            parseValue(kCommands[static_cast<size_t>(request.command)], request.value);
        if (!parsed)
            return refused;
        setValue(request.command, *parsed);
        return reply("OK");
    }
    }
    return std::nullopt;
}

} // namespace tarvik::sim
