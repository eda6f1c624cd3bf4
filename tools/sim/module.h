// One simulated Tarvik module: its identity, its 28 stored parameters, and how it answers each
// datagram that reaches its UDP port. No sockets here: a datagram goes in, the reply comes out.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace tarvik::sim {

inline constexpr int kIdentitySize = 6;
inline constexpr int kCommandCount = 28;
inline const QByteArray kFirmware = QByteArrayLiteral("V3.1");

// How the module holds a parameter, and how it writes it into a reply.
enum class Kind : quint8
{
    Digit,   // one decimal digit; replies "0" and the digit
    Number,  // 0..max; replies five digits with leading zeros
    Address, // four numbers 0-255; replies four 3-digit groups joined by "."
};

struct Command
{
    const char* code; // "ET", ..., "SR1" .. "DP4": the letters and, per channel, the channel digit
    int number;       // the firmware's number of the parameter: 6, 18, 23 and 24 are none
    const char* meaning;
    Kind kind;
    int min; // Digit: lowest digit accepted; Number: 0
    int max; // Digit: highest digit; Number: largest value
};

// The module's commands, in the order the configuration tool reads them.
extern const std::array<Command, kCommandCount> kCommands;

// Index into kCommands of a code such as "ET" or "PT3", or -1.
int commandIndex(const QByteArray& code);

// A parameter value: a digit, a number or an IPv4 address packed big-endian into 32 bits.
using Values = std::array<quint32, kCommandCount>;

// The factory values of module `index` (0-based): all modules are alike except their own IP
// address, 192.168.1.(101 + index).
Values factoryValues(int index = 0);

// The value as the module writes it into a reply: "05" for a digit, "05000" for a number,
// "192.168.001.010" for an address.
QByteArray replyText(Kind kind, quint32 value);
// A value text of a setting, parsed and validated as the module does: digits only ("0".."9"; a
// digit value one character long, a number at most five digits, an address four dot-separated
// groups of one to three digits, each at most 255). nullopt when the module refuses it.
std::optional<quint32> parseValue(const Command& command, const QByteArray& text);

// Identity helpers: twelve hex digits <-> six bytes.
std::optional<QByteArray> identityFromHex(const QString& hex);
QString identityHex(const QByteArray& identity);
// The identity of module `index` when only the first one is given: the six bytes read as one
// 48-bit number plus index.
QByteArray identityPlus(const QByteArray& first, int index);

// What a datagram is, from this module's point of view.
struct Request
{
    enum Type
    {
        NotForUs,  // another module's command, an unknown datagram, or a command while running
        Discovery, // "SETUP"
        Query,     // identity "AT" code CR, padded with 0x00 to 12 bytes
        Setting,   // identity "AT" code "=" value CR
        Defaults,  // identity "ATDF" CR
        Reset,     // identity "END", or six 0xFF "END" for every module
        Malformed, // an "AT" command of ours that the module cannot take apart
    };
    Type type = NotForUs;
    int command = -1; // Query, Setting: index into kCommands
    QByteArray value; // Setting: the value text
    // Name of the request for matching fault rules and for the log: "SETUP", "END", "DF", "AT",
    // or the code followed by "?" (query) or "=" (setting), for example "PT1?" or "ET=".
    QByteArray key;
};

class Module
{
public:
    explicit Module(QByteArray identity, int index = 0);

    const QByteArray& identity() const { return m_identity; }
    int index() const { return m_index; }
    // Between a "SETUP" and an "END" the module is in configuration and takes commands; otherwise
    // it runs and answers nothing but "SETUP".
    bool isConfiguring() const { return m_configuring; }

    const Values& values() const { return m_values; }
    quint32 value(int command) const { return m_values[static_cast<size_t>(command)]; }
    void setValue(int command, quint32 value) { m_values[static_cast<size_t>(command)] = value; }
    // The value in reply form, by code: value("PT1") == "05000".
    QByteArray valueText(const QByteArray& code) const;
    void restoreFactory() { m_values = factoryValues(m_index); }

    Request classify(const QByteArray& datagram) const;

    // Handles one datagram: changes the module's state and returns the reply, if any. A refused
    // request (`refuse`) is answered "ER" and changes nothing.
    std::optional<QByteArray> handle(const Request& request, bool refuse = false);
    std::optional<QByteArray> handle(const QByteArray& datagram) { return handle(classify(datagram)); }

    // The discovery reply: identity, own address in reply form, "/", firmware version.
    QByteArray discoveryReply() const;
    // What replies to commands start with: the identity, or six zero bytes for a module that leaves
    // it out.
    QByteArray replyHead() const { return m_identityInReplies ? m_identity : QByteArray(kIdentitySize, '\0'); }
    void setIdentityInReplies(bool carried) { m_identityInReplies = carried; }

private:
    QByteArray reply(const QByteArray& payload) const { return replyHead() + payload; }

    QByteArray m_identity;
    int m_index = 0;
    Values m_values;
    bool m_configuring = false;
    bool m_identityInReplies = true;
};

} // namespace tarvik::sim
