#include "capture.h"

#include "link/link.h"

#include <QtEndian>

#include <chrono>

namespace tarvik::wire {

namespace {

// pcapng block types and option codes.
constexpr quint32 kSectionHeader = 0x0A0D0D0A;
constexpr quint32 kInterfaceDescription = 0x00000001;
constexpr quint32 kEnhancedPacket = 0x00000006;
constexpr quint32 kByteOrderMagic = 0x1A2B3C4D;
constexpr quint16 kEndOfOptions = 0;
constexpr quint16 kComment = 1;
constexpr quint16 kApplication = 4; // shb_userappl
constexpr quint16 kInterfaceName = 2;
constexpr quint16 kInterfaceAddress = 4; // if_IPv4addr: address and mask
constexpr quint16 kRawIp = 101;          // link type: packets begin with their IPv4 header
constexpr quint32 kSnapLength = 65535;

constexpr int kIpHeader = 20;
constexpr int kUdpHeader = 8;

void put16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void pad(QByteArray& out)
{
    while (out.size() % 4 != 0)
        out.append('\0');
}

void option(QByteArray& out, quint16 code, const QByteArray& value)
{
    put16(out, code);
    put16(out, static_cast<quint16>(value.size()));
    out.append(value);
    pad(out);
}

// Type, length, body, length again; the body is padded to 32 bits.
QByteArray block(quint32 type, QByteArray body)
{
    pad(body);
    const auto length = static_cast<quint32>(body.size() + 12);
    QByteArray out;
    out.reserve(static_cast<qsizetype>(length));
    put32(out, type);
    put32(out, length);
    out.append(body);
    put32(out, length);
    return out;
}

// Options end with an end-of-options option; none at all is written without it.
void endOptions(QByteArray& body)
{
    put16(body, kEndOfOptions);
    put16(body, 0);
}

quint16 checksum(const uchar* bytes, int length)
{
    quint32 sum = 0;
    for (int i = 0; i + 1 < length; i += 2)
        sum += quint32(bytes[i]) << 8 | bytes[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

} // namespace

Capture::Capture(qint64 bound) : m_bound(bound) {}

Capture::~Capture()
{
    if (tap() == this)
        setTap(nullptr);
}

bool Capture::open(const QString& path, const QString& application, QString* error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    QByteArray body;
    put32(body, kByteOrderMagic);
    put16(body, 1); // version 1.0
    put16(body, 0);
    put32(body, 0xFFFFFFFF); // section length: not known while it is written
    put32(body, 0xFFFFFFFF);
    option(body, kApplication, application.toUtf8());
    endOptions(body);
    if (!write(block(kSectionHeader, body))) {
        if (error)
            *error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

QByteArray Capture::packet(const Datagram& datagram, quint16 identification)
{
    const int udpLength = kUdpHeader + static_cast<int>(datagram.payload.size());
    const int total = kIpHeader + udpLength;
    QByteArray out(total, '\0');
    auto* p = reinterpret_cast<uchar*>(out.data());
    p[0] = 0x45; // IPv4, a 20-byte header
    qToBigEndian(static_cast<quint16>(total), p + 2);
    qToBigEndian(identification, p + 4);
    p[8] = 64; // time to live
    p[9] = 17; // UDP
    qToBigEndian(datagram.source, p + 12);
    qToBigEndian(datagram.destination, p + 16);
    qToBigEndian(checksum(p, kIpHeader), p + 10);
    qToBigEndian(datagram.sourcePort, p + 20);
    qToBigEndian(datagram.destinationPort, p + 22);
    qToBigEndian(static_cast<quint16>(udpLength), p + 24);
    // The UDP checksum stays 0: none, as IPv4 allows.
    std::copy(datagram.payload.cbegin(), datagram.payload.cend(), out.begin() + kIpHeader + kUdpHeader);
    return out;
}

void Capture::sent(const Datagram& datagram, const QString& error)
{
    add(datagram, error.isEmpty() ? QStringLiteral("sent") : QStringLiteral("not sent: ") + error);
}

void Capture::received(const Datagram& datagram, const QString& verdict)
{
    add(datagram, verdict.isEmpty() ? QStringLiteral("taken") : QStringLiteral("not taken: ") + verdict);
}

void Capture::add(const Datagram& datagram, const QString& comment)
{
    const int interface = interfaceOf(datagram.card);
    if (interface < 0)
        return;
    const QByteArray bytes = packet(datagram, m_identification++);
    const auto micros = static_cast<quint64>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    QByteArray body;
    body.reserve(bytes.size() + comment.size() * 3 + 40);
    put32(body, static_cast<quint32>(interface));
    put32(body, static_cast<quint32>(micros >> 32));
    put32(body, static_cast<quint32>(micros));
    put32(body, static_cast<quint32>(bytes.size()));
    put32(body, static_cast<quint32>(bytes.size()));
    body.append(bytes);
    pad(body);
    option(body, kComment, comment.toUtf8());
    endOptions(body);
    if (write(block(kEnhancedPacket, body)))
        ++m_packets;
}

int Capture::interfaceOf(int card)
{
    if (m_ended || !m_file.isOpen())
        return -1;
    if (const auto it = m_interfaces.constFind(card); it != m_interfaces.cend())
        return *it;
    CardInfo info;
    if (describeCard)
        info = describeCard(card);
    if (info.name.isEmpty())
        info.name = card == kAnyCard ? QStringLiteral("any") : QStringLiteral("card %1").arg(card);
    QByteArray body;
    put16(body, kRawIp);
    put16(body, 0);
    put32(body, kSnapLength);
    option(body, kInterfaceName, info.name.toUtf8());
    if (info.address != 0) {
        QByteArray value(8, '\0');
        qToBigEndian(info.address, value.data());
        qToBigEndian(info.mask, value.data() + 4);
        option(body, kInterfaceAddress, value);
    }
    endOptions(body);
    if (!write(block(kInterfaceDescription, body)))
        return -1;
    const int id = static_cast<int>(m_interfaces.size());
    m_interfaces.insert(card, id);
    return id;
}

bool Capture::write(const QByteArray& bytes)
{
    if (m_ended)
        return false;
    if (m_size + bytes.size() > m_bound) {
        end(QStringLiteral("it reached its bound of %1 bytes; later datagrams are not in it").arg(m_bound));
        return false;
    }
    if (m_file.write(bytes) != bytes.size()) {
        end(QStringLiteral("it could not be written: %1; it ends at the last datagram written")
                .arg(m_file.errorString()));
        return false;
    }
    m_size += bytes.size();
    return true;
}

void Capture::end(const QString& why)
{
    m_ended = true;
    // A block written only in part would spoil the file for every reader: what is whole stays.
    if (m_file.size() != m_size)
        m_file.resize(m_size);
    if (onEnded)
        onEnded(why);
}

} // namespace tarvik::wire
