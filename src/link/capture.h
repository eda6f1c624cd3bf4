// A capture of what the tool sent and heard, in the pcapng format that Wireshark and tshark read:
// one interface block per card, each datagram an IPv4/UDP packet with its real addresses and ports,
// and what became of it (sent, not sent and why, taken, not taken and why) as the packet's comment.
//
// Written as it goes, one block in one write: a program that stops half-way leaves a file that
// opens, up to the last datagram. Bounded: once the next packet would pass the bound, nothing
// more is added and the program is told once.
#pragma once

#include "link/wirelog.h"

#include <QFile>
#include <QHash>
#include <QString>

#include <functional>

namespace tarvik::wire {

class Capture : public Tap
{
public:
    // A read of 28 parameters takes a few kilobytes; this holds a flood of the largest datagrams
    // for some seconds, and a working day of ordinary use.
    static constexpr qint64 kDefaultBound = qint64(64) * 1024 * 1024;

    // A card as its interface block names it.
    struct CardInfo
    {
        QString name;
        quint32 address = 0; // its IPv4 address and mask, host order; 0: none
        quint32 mask = 0;
    };

    explicit Capture(qint64 bound = kDefaultBound);
    // No longer the wire's tap, if it was.
    ~Capture() override;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Creates (or empties) the file and writes its header, naming `application` ("tarvik-cli 3.1");
    // false, with the system's reason in `error`, when it cannot.
    bool open(const QString& path, const QString& application, QString* error);
    QString path() const { return m_file.fileName(); }
    qint64 bound() const { return m_bound; }
    qint64 size() const { return m_size; }
    // The packets written so far.
    int packets() const { return m_packets; }

    // How a card is named in its interface block (the link itself knows indexes only).
    std::function<CardInfo(int card)> describeCard;
    // Told once when the capture ends early: the bound reached, or a write failed (`why`).
    std::function<void(const QString& why)> onEnded;

    void sent(const Datagram& datagram, const QString& error) override;
    void received(const Datagram& datagram, const QString& verdict) override;

    // The IPv4 and UDP headers and payload of a datagram, as the capture holds it.
    static QByteArray packet(const Datagram& datagram, quint16 identification = 0);

private:
    void add(const Datagram& datagram, const QString& comment);
    // The interface block's id for a card, writing the block on its first use; -1 when the
    // capture has ended.
    int interfaceOf(int card);
    bool write(const QByteArray& bytes);
    void end(const QString& why);

    QFile m_file;
    qint64 m_bound;
    qint64 m_size = 0;
    int m_packets = 0;
    bool m_ended = false;
    quint16 m_identification = 0;
    QHash<int, int> m_interfaces; // card index -> interface id
};

} // namespace tarvik::wire
