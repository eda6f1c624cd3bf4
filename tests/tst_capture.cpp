// The capture file: pcapng blocks as Wireshark reads them, one interface per card, each datagram an
// IPv4/UDP packet with what became of it as its comment, and its bound.
#include "link/capture.h"
#include "link/link.h"
#include "support/testmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace tarvik;
using namespace tarvik::wire;

namespace {

struct Block
{
    quint32 type = 0;
    QByteArray body;
};

// Every block of a file; a block cut short or with lengths that disagree ends the list with type 0.
QList<Block> blocksOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QList<Block> blocks;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
        const quint32 length = bytes.size() - at >= 8 ? qFromLittleEndian<quint32>(p + 4) : 0;
        if (length < 12 || length % 4 != 0 || at + length > bytes.size() ||
            qFromLittleEndian<quint32>(p + length - 4) != length) {
            blocks.append(Block{});
            break;
        }
        blocks.append(Block{qFromLittleEndian<quint32>(p), bytes.mid(at + 8, length - 12)});
        at += length;
    }
    return blocks;
}

// The value of option `code` in options starting at `from`.
QByteArray optionOf(const QByteArray& body, qsizetype from, quint16 code)
{
    while (from + 4 <= body.size()) {
        const auto* p = reinterpret_cast<const uchar*>(body.constData() + from);
        const quint16 type = qFromLittleEndian<quint16>(p);
        const quint16 length = qFromLittleEndian<quint16>(p + 2);
        if (type == 0)
            break;
        if (type == code)
            return body.mid(from + 4, length);
        from += 4 + (length + 3) / 4 * 4;
    }
    return {};
}

quint32 word(const QByteArray& body, qsizetype at)
{
    return qFromLittleEndian<quint32>(body.constData() + at);
}

// An enhanced packet block: its interface, packet bytes and comment.
struct Packet
{
    quint32 interface;
    QByteArray bytes;
    QString comment;
};

Packet packetOf(const Block& block)
{
    const quint32 captured = word(block.body, 12);
    const qsizetype options = 20 + (captured + 3) / 4 * 4;
    return {word(block.body, 0), block.body.mid(20, captured), QString::fromUtf8(optionOf(block.body, options, 1))};
}

QString interfaceName(const Block& block)
{
    return QString::fromUtf8(optionOf(block.body, 8, 2));
}

constexpr quint32 kShb = 0x0A0D0D0A;
constexpr quint32 kIdb = 1;
constexpr quint32 kEpb = 6;

const Datagram kSetup{"SETUP", 3, 0xAC140001, kLocalPort, 0xFFFFFFFF, kModulePort};
const Datagram kReply{
    QByteArray::fromHex("001a2b3c4d5e") + "0\x30", 3, 0xC0A80164, kModulePort, 0xFFFFFFFF, kLocalPort};

Capture::CardInfo named(int card)
{
    return {QStringLiteral("tvk%1").arg(card), 0xAC140001, 0xFFFFFF00};
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Capture> m_capture;
    QStringList m_ended;

    QString open(qint64 bound = Capture::kDefaultBound)
    {
        m_capture = std::make_unique<Capture>(bound);
        m_capture->describeCard = named;
        m_ended.clear();
        m_capture->onEnded = [this](const QString& why) { m_ended << why; };
        const QString path = m_dir.filePath(QStringLiteral("trace.pcapng"));
        QString error;
        if (!m_capture->open(path, QStringLiteral("tarvik-cli test"), &error))
            qWarning("%s", qPrintable(error));
        setTap(m_capture.get());
        return path;
    }

private slots:
    void cleanup()
    {
        setTap(nullptr);
        m_capture.reset();
    }

    // What became of each datagram is its comment: the tap hears a sent one from the endpoint, a
    // received one when the bracket of its arrival closes, with the verdict given inside it.
    void comments_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("comment");
        enum
        {
            Sent,
            NotSent,
            Taken,
            NotTaken,
            Unjudged,
            TakenThenRefused
        };
        QTest::newRow("sent") << int(Sent) << "sent";
        QTest::newRow("not sent") << int(NotSent) << "not sent: Network is unreachable";
        QTest::newRow("taken") << int(Taken) << "taken";
        QTest::newRow("not taken") << int(NotTaken) << "not taken: an identity no listed module has";
        QTest::newRow("nothing judged it") << int(Unjudged) << "not taken: not looked at: nothing awaited it";
        QTest::newRow("the first verdict stands") << int(TakenThenRefused) << "taken";
    }
    void comments()
    {
        QFETCH(int, action);
        QFETCH(QString, comment);
        const QString path = open();
        const bool sending = action <= 1;
        const Datagram& datagram = sending ? kSetup : kReply;
        if (sending) {
            tap()->sent(datagram, action == 1 ? QStringLiteral("Network is unreachable") : QString());
        } else {
            Arrival arrival(datagram);
            if (action == 2 || action == 5)
                taken();
            if (action == 3 || action == 5)
                notTaken(datagram.payload, datagram.card, QStringLiteral("an identity no listed module has"));
        }
        const QList<Block> blocks = blocksOf(path);
        QCOMPARE(blocks.size(), 3);
        QCOMPARE(blocks[0].type, kShb);
        QCOMPARE(word(blocks[0].body, 0), 0x1A2B3C4Du);
        QCOMPARE(blocks[1].type, kIdb);
        QCOMPARE(qFromLittleEndian<quint16>(blocks[1].body.constData()), quint16(101));
        QCOMPARE(interfaceName(blocks[1]), QStringLiteral("tvk3"));
        QCOMPARE(blocks[2].type, kEpb);
        const Packet packet = packetOf(blocks[2]);
        QCOMPARE(packet.interface, 0u);
        QCOMPARE(packet.bytes, Capture::packet(datagram, 0));
        QCOMPARE(packet.comment, comment);
    }

    // Each datagram as an IPv4 packet with a valid header checksum and its UDP header; the largest
    // the arrival path takes included.
    void packetHeaders_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 5, 12, 32767})
            QTest::addRow("%d bytes", size) << size;
    }
    void packetHeaders()
    {
        QFETCH(int, size);
        const Datagram datagram{QByteArray(size, 'x'), 3, 0xC0A80164, 65000, 0xFFFFFFFF, 65002};
        const QByteArray bytes = Capture::packet(datagram, 7);
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
        QCOMPARE(bytes.size(), 28 + size);
        QCOMPARE(p[0], uchar(0x45));
        QCOMPARE(qFromBigEndian<quint16>(p + 2), quint16(28 + size));
        QCOMPARE(qFromBigEndian<quint16>(p + 4), quint16(7));
        QCOMPARE(p[9], uchar(17));
        quint32 sum = 0;
        for (int i = 0; i < 20; i += 2)
            sum += qFromBigEndian<quint16>(p + i);
        QCOMPARE((sum & 0xFFFF) + (sum >> 16), 0xFFFFu);
        QCOMPARE(qFromBigEndian<quint32>(p + 12), datagram.source);
        QCOMPARE(qFromBigEndian<quint32>(p + 16), datagram.destination);
        QCOMPARE(qFromBigEndian<quint16>(p + 20), datagram.sourcePort);
        QCOMPARE(qFromBigEndian<quint16>(p + 22), datagram.destinationPort);
        QCOMPARE(qFromBigEndian<quint16>(p + 24), quint16(8 + size));
        QCOMPARE(bytes.mid(28), datagram.payload);
    }

    // One interface block per card, written before its first packet; later packets of the card
    // point at it.
    void oneInterfacePerCard()
    {
        const QString path = open();
        const QList<int> cards{3, 5, 3, kAnyCard, 5};
        for (int card : cards) {
            Datagram datagram = kSetup;
            datagram.card = card;
            tap()->sent(datagram, QString());
        }
        QStringList names;
        QList<quint32> interfaces;
        for (const Block& block : blocksOf(path)) {
            if (block.type == kIdb)
                names << interfaceName(block);
            else if (block.type == kEpb)
                interfaces << packetOf(block).interface;
        }
        QCOMPARE(names, (QStringList{"tvk3", "tvk5", "tvk0"}));
        QCOMPARE(interfaces, (QList<quint32>{0, 1, 0, 2, 1}));
        QCOMPARE(m_capture->packets(), int(cards.size()));
    }

    // Past its bound nothing more is written, the program is told once, and every block in the file
    // is whole.
    void bounded_data()
    {
        QTest::addColumn<int>("fitting"); // packets that fit under the bound
        for (int n : {0, 1, 5})
            QTest::addRow("%d packets fit", n) << n;
    }
    void bounded()
    {
        QFETCH(int, fitting);
        // The size of the header, the interface block and one packet, measured unbounded.
        const QString measured = open();
        tap()->sent(kSetup, QString());
        const QList<Block> one = blocksOf(measured);
        QCOMPARE(one.size(), 3);
        const qint64 head = 12 + one[0].body.size() + 12 + one[1].body.size();
        const qint64 each = 12 + one[2].body.size();

        const QString path = open(head + fitting * each + each - 1);
        for (int i = 0; i < fitting + 3; ++i)
            tap()->sent(kSetup, QString());
        QCOMPARE(m_capture->packets(), fitting);
        QCOMPARE(m_ended.size(), 1);
        QVERIFY2(m_ended[0].contains(QString::number(m_capture->bound())), qPrintable(m_ended[0]));
        const QList<Block> blocks = blocksOf(path);
        QCOMPARE(blocks.size(), 2 + fitting);
        QCOMPARE(blocks.last().type, fitting == 0 ? kIdb : kEpb);
        QCOMPARE(QFile(path).size(), head + fitting * each);
    }

    // A file that cannot be made is refused with the system's reason, before anything is captured.
    void refusedWhenNotCreatable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("no such folder") << "no/such/folder/trace.pcapng";
        QTest::newRow("a folder") << ".";
    }
    void refusedWhenNotCreatable()
    {
        QFETCH(QString, path);
        Capture capture;
        QString error;
        QVERIFY(!capture.open(m_dir.filePath(path), QStringLiteral("test"), &error));
        QVERIFY(!error.isEmpty());
        capture.sent(kSetup, QString());
        QCOMPARE(capture.packets(), 0);
    }
};

TARVIK_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
