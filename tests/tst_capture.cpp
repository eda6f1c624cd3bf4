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

quint32 word(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// A block of the file: its type and body (what lies between its two lengths), the packet's
// interface, bytes and comment for a packet block, the name for an interface block.
struct Block
{
    quint32 type = 0;
    QByteArray body;
    quint32 interface = 0;
    QByteArray packet;
    QString text;
};

// The value of option `code` among the options that start at `at`.
QString optionOf(const QByteArray& body, qsizetype at, quint16 code)
{
    for (; at + 4 <= body.size() && qFromLittleEndian<quint16>(body.constData() + at) != 0;
         at += 4 + (qFromLittleEndian<quint16>(body.constData() + at + 2) + 3) / 4 * 4) {
        if (qFromLittleEndian<quint16>(body.constData() + at) == code)
            return QString::fromUtf8(body.mid(at + 4, qFromLittleEndian<quint16>(body.constData() + at + 2)));
    }
    return {};
}

// Every block of a file; one cut short, or whose two lengths differ, ends the list with type 0.
QList<Block> blocksOf(const QString& path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QList<Block> blocks;
    for (qsizetype at = 0; at < bytes.size();) {
        const quint32 length = bytes.size() - at >= 8 ? word(bytes, at + 4) : 0;
        if (length < 12 || length % 4 != 0 || at + length > bytes.size() || word(bytes, at + length - 4) != length) {
            blocks.append(Block{});
            break;
        }
        Block block{word(bytes, at), bytes.mid(at + 8, length - 12), 0, {}, {}};
        if (block.type == 6) {
            const quint32 captured = word(block.body, 12);
            block.interface = word(block.body, 0);
            block.packet = block.body.mid(20, captured);
            block.text = optionOf(block.body, 20 + (captured + 3) / 4 * 4, 1);
        } else if (block.type == 1) {
            block.text = optionOf(block.body, 8, 2);
        }
        blocks.append(block);
        at += length;
    }
    return blocks;
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
        QTest::addColumn<QString>("what"); // the verdicts given inside the bracket: "taken", "refused"
        QTest::addColumn<QString>("comment");
        QTest::newRow("sent") << "sent"
                              << "sent";
        QTest::newRow("not sent") << "not sent"
                                  << "not sent: Network is unreachable";
        QTest::newRow("taken") << "taken"
                               << "taken";
        QTest::newRow("not taken") << "refused"
                                   << "not taken: an identity no listed module has";
        QTest::newRow("nothing judged it") << ""
                                           << "not taken: not looked at: nothing awaited it";
        QTest::newRow("the first verdict stands") << "taken refused"
                                                  << "taken";
    }
    void comments()
    {
        QFETCH(QString, what);
        QFETCH(QString, comment);
        const QString path = open();
        const bool sending = what.startsWith("sent") || what.startsWith("not sent");
        const Datagram& datagram = sending ? kSetup : kReply;
        if (sending) {
            tap()->sent(datagram, what == "sent" ? QString() : QStringLiteral("Network is unreachable"));
        } else {
            Arrival arrival(datagram);
            for (const QString& verdict : what.split(' ', Qt::SkipEmptyParts)) {
                if (verdict == "taken")
                    taken();
                else
                    notTaken(datagram.payload, datagram.card, QStringLiteral("an identity no listed module has"));
            }
        }
        const QList<Block> blocks = blocksOf(path);
        QCOMPARE(blocks.size(), 3);
        QCOMPARE(blocks[0].type, kShb);
        QCOMPARE(blocks[1].type, kIdb);
        QCOMPARE(qFromLittleEndian<quint16>(blocks[1].body.constData()), quint16(101)); // raw IPv4
        QCOMPARE(blocks[1].text, QStringLiteral("tvk3"));
        QCOMPARE(blocks[2].type, kEpb);
        QCOMPARE(blocks[2].interface, 0u);
        QCOMPARE(blocks[2].packet, Capture::packet(datagram, 0));
        QCOMPARE(blocks[2].text, comment);
    }

    // Each datagram as an IPv4 packet (header checksum included) with its UDP header: the largest the
    // arrival path takes too.
    void packetHeaders_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("headers"); // hex
        QTest::newRow("SETUP sent") << 5 << QByteArray("45000021000700004011ceb0ac140001fffffffffdeafde8000d0000");
        QTest::newRow("32767 bytes received")
            << 32767 << QByteArray("4500801b00070000401138bfc0a80164fffffffffde8fdea80070000");
    }
    void packetHeaders()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, headers);
        Datagram datagram = size == 5 ? kSetup : kReply;
        datagram.payload = QByteArray(size, 'x');
        const QByteArray bytes = Capture::packet(datagram, 7);
        const int ipAndUdp = 20 + 8;
        QCOMPARE(bytes.left(ipAndUdp).toHex(), headers);
        QCOMPARE(bytes.mid(ipAndUdp), datagram.payload);
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
                names << block.text;
            else if (block.type == kEpb)
                interfaces << block.interface;
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
};

TARVIK_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
