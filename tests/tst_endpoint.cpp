// The UDP endpoint on real sockets, inside the test's private network namespace.
#include "link/cards.h"
#include "link/udpendpoint.h"
#include "link/wirelog.h"
#include "support/testmain.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUdpSocket>

#include <memory>

using namespace tarvik;

namespace {

std::unique_ptr<QUdpSocket> sharedSocket(quint16 port)
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        qFatal("cannot bind port %d", port);
    return socket;
}

QByteArray nextDatagram(QUdpSocket& socket)
{
    QByteArray datagram(static_cast<qsizetype>(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(datagram.data(), datagram.size());
    return datagram;
}

// Sends datagrams to the tool's port the way a module does, from the modules' port.
void sendToTool(const QList<QByteArray>& datagrams)
{
    QUdpSocket module;
    for (const QByteArray& datagram : datagrams)
        QCOMPARE(module.writeDatagram(datagram, QHostAddress::LocalHost, kLocalPort), datagram.size());
}

// Keeps what the wire's tap hears.
struct RecordingTap : wire::Tap
{
    struct Heard
    {
        bool sent;
        wire::Datagram datagram;
        QString note; // the send error or the verdict
    };
    QList<Heard> heard;
    void sent(const wire::Datagram& datagram, const QString& error) override { heard.append({true, datagram, error}); }
    void received(const wire::Datagram& datagram, const QString& verdict) override
    {
        heard.append({false, datagram, verdict});
    }
};

} // namespace

class TestEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void sendsExactBytesToModulesPort()
    {
        auto modules = sharedSocket(kModulePort);
        UdpEndpoint endpoint;
        endpoint.open();
        QVERIFY(endpoint.isBound());
        const QByteArray setup("SETUP");
        const QByteArray query = QByteArray::fromHex("001a2b3c4d5e") + "ATET\r" + QByteArray(1, '\0');
        QVERIFY(endpoint.send(setup, kAnyCard));
        QVERIFY(endpoint.send(query, kAnyCard));
        QTRY_VERIFY(modules->hasPendingDatagrams());
        QCOMPARE(nextDatagram(*modules), setup);
        QTRY_VERIFY(modules->hasPendingDatagrams());
        QCOMPARE(nextDatagram(*modules), query);
    }

    // Every datagram is handed on whole, one arrival per datagram, in order, from any sender.
    void arrivalsOnePerDatagram()
    {
        UdpEndpoint endpoint;
        endpoint.open();
        QSignalSpy arrivals(&endpoint, &UdpEndpoint::datagramArrived);
        const QByteArray first = QByteArray::fromHex("0102030405064f4b0d");
        const QByteArray second = QByteArray::fromHex("0a0b0c0d0e0f") + QByteArray(300, 'x');
        sendToTool({first, second, QByteArray(1, '\xFF')});
        QTRY_COMPARE(arrivals.size(), 3);
        QCOMPARE(arrivals[0][0].toByteArray(), first);
        QCOMPARE(arrivals[1][0].toByteArray(), second);
        QCOMPARE(arrivals[2][0].toByteArray(), QByteArray(1, '\xFF'));
    }

    void emptyDatagramArrives()
    {
        UdpEndpoint endpoint;
        endpoint.open();
        QSignalSpy arrivals(&endpoint, &UdpEndpoint::datagramArrived);
        sendToTool({QByteArray(), QByteArray("after")});
        QTRY_COMPARE(arrivals.size(), 2);
        QCOMPARE(arrivals[0][0].toByteArray(), QByteArray());
        QCOMPARE(arrivals[1][0].toByteArray(), QByteArray("after"));
    }

    // The arrival path holds lengths as signed 16-bit counts: a longer datagram is dropped whole
    // and the ones after it still arrive.
    void oversizedDatagramDropped()
    {
        UdpEndpoint endpoint;
        endpoint.open();
        QSignalSpy arrivals(&endpoint, &UdpEndpoint::datagramArrived);
        const QByteArray largest(32767, 'a');
        sendToTool({QByteArray(32768, 'b'), largest, QByteArray(65507, 'c'), QByteArray("tail")});
        QTRY_COMPARE(arrivals.size(), 2);
        QCOMPARE(arrivals[0][0].toByteArray(), largest);
        QCOMPARE(arrivals[1][0].toByteArray(), QByteArray("tail"));
    }

    // Port taken by another program: nothing goes out, and every send reports an error, until the
    // port is free again.
    void portTakenIsSendError()
    {
        auto modules = sharedSocket(kModulePort);
        auto squatter = std::make_unique<QUdpSocket>();
        QVERIFY(squatter->bind(QHostAddress::AnyIPv4, kLocalPort));
        UdpEndpoint endpoint;
        QVERIFY(!endpoint.open());
        QVERIFY(!endpoint.errorString().isEmpty());
        QVERIFY(!endpoint.isBound());
        QVERIFY(!endpoint.send("SETUP", kAnyCard));
        const BroadcastReport report = endpoint.broadcast("SETUP");
        QVERIFY(!report.sent());
        QCOMPARE(report.error, endpoint.errorString());
        QTest::qWait(50);
        QVERIFY(!modules->hasPendingDatagrams());

        squatter.reset();
        QVERIFY(endpoint.send("SETUP", kAnyCard));
        QVERIFY(endpoint.isBound());
        QTRY_VERIFY(modules->hasPendingDatagrams());
        QCOMPARE(nextDatagram(*modules), QByteArray("SETUP"));
    }

    // Each arrival names the card it came in on: here the loopback.
    void arrivalsNameTheirCard()
    {
        UdpEndpoint endpoint;
        QVERIFY(endpoint.open());
        QSignalSpy arrivals(&endpoint, &UdpEndpoint::datagramArrived);
        sendToTool({QByteArray("first"), QByteArray()});
        QTRY_COMPARE(arrivals.size(), 2);
        const int loopback = QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"));
        QVERIFY(loopback > 0);
        QCOMPARE(arrivals[0][1].toInt(), loopback);
        QCOMPARE(arrivals[1][1].toInt(), loopback);
    }

    // Through one card, chosen by its index: the loopback here, which needs no route for it.
    void sendsThroughOneCard()
    {
        auto modules = sharedSocket(kModulePort);
        UdpEndpoint endpoint;
        QVERIFY(endpoint.open());
        QVERIFY(endpoint.send("ATDF", QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"))));
        QTRY_VERIFY(modules->hasPendingDatagrams());
        QCOMPARE(nextDatagram(*modules), QByteArray("ATDF"));
        // A card that does not exist: a send error with the system's reason.
        QVERIFY(!endpoint.send("ATDF", 999999));
        QVERIFY(!endpoint.errorString().isEmpty());
    }

    // Only the loopback here: no card can broadcast, and the routing table sends, as always.
    void broadcastWithoutCardsGoesByTheRoutingTable()
    {
        QVERIFY(cards::usable().isEmpty());
        auto modules = sharedSocket(kModulePort);
        UdpEndpoint endpoint;
        QVERIFY(endpoint.open());
        QSignalSpy done(&endpoint, &UdpEndpoint::broadcastDone);
        const BroadcastReport report = endpoint.broadcast("SETUP");
        QVERIFY(report.routed);
        QVERIFY(report.sent());
        QVERIFY(report.cards.isEmpty());
        QCOMPARE(done.size(), 1);
        QTRY_VERIFY(modules->hasPendingDatagrams());
        QCOMPARE(nextDatagram(*modules), QByteArray("SETUP"));

        // A card asked for by name that cannot broadcast: nothing is sent, and the report says why.
        endpoint.setOnlyCard(QStringLiteral("lo"));
        const BroadcastReport named = endpoint.broadcast("SETUP");
        QVERIFY(!named.sent());
        QCOMPARE(named.error, QStringLiteral("no usable IPv4 interface named lo; usable: none"));
        QTest::qWait(50);
        QVERIFY(!modules->hasPendingDatagrams());
    }

    // The tap hears every datagram sent, failed or not, and every one that arrived, with its
    // addresses and ports.
    void tapHearsEveryDatagram_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<quint32>("source"); // 0: any
        QTest::addColumn<quint16>("destinationPort");
        QTest::addColumn<QString>("note");
        const quint32 loopback = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
        QTest::newRow("sent through a card") << "lo" << true << loopback << kModulePort << QString();
        QTest::newRow("not sent") << "no card" << true << 0u << kModulePort << "No such device";
        QTest::newRow("arrived") << "arrive" << false << loopback << kLocalPort << "not looked at: nothing awaited it";
        // What the arrival's handler sends is heard after the arrival, in the order of the wire.
        QTest::newRow("answered at once")
            << "answered" << false << loopback << kLocalPort << "not looked at: nothing awaited it";
        QTest::newRow("too long") << "oversized" << false << loopback << kLocalPort
                                  << "longer than 32767 bytes: dropped whole";
    }
    void tapHearsEveryDatagram()
    {
        QFETCH(QString, what);
        QFETCH(bool, sent);
        QFETCH(quint32, source);
        QFETCH(quint16, destinationPort);
        QFETCH(QString, note);
        auto modules = sharedSocket(kModulePort);
        RecordingTap tap;
        wire::setTap(&tap);
        UdpEndpoint endpoint;
        QVERIFY(endpoint.open());
        const int lo = QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"));
        if (what == "answered")
            connect(&endpoint, &UdpEndpoint::datagramArrived, this, [&] { endpoint.send("END", lo); });
        const QByteArray payload = what == "oversized" ? QByteArray(40000, 'z') : QByteArray("ATDF");
        if (what == "lo")
            QVERIFY(endpoint.send(payload, lo));
        else if (what == "no card")
            QVERIFY(!endpoint.send(payload, 999999));
        else
            sendToTool({payload});
        QTRY_COMPARE(tap.heard.size(), what == "answered" ? 2 : 1);
        wire::setTap(nullptr);
        const RecordingTap::Heard& heard = tap.heard.first();
        QCOMPARE(heard.sent, sent);
        QCOMPARE(heard.datagram.payload, payload.left(UdpEndpoint::kMaxDatagramSize + 1));
        QCOMPARE(heard.datagram.card, what == "no card" ? 999999 : lo);
        if (source != 0)
            QCOMPARE(heard.datagram.source, source);
        QCOMPARE(heard.datagram.destinationPort, destinationPort);
        QCOMPARE(heard.datagram.sourcePort == kLocalPort, sent);
        QVERIFY2(heard.note.startsWith(note), qPrintable(heard.note));
        if (what == "answered")
            QVERIFY(tap.heard[1].sent && tap.heard[1].datagram.payload == "END");
    }

    void primaryAddress()
    {
        const QHostAddress address = UdpEndpoint::primaryIPv4Address();
        QVERIFY(address.protocol() == QAbstractSocket::IPv4Protocol);
        QVERIFY(address != QHostAddress(QHostAddress::AnyIPv4));
    }
};

TARVIK_TEST_MAIN_NET(TestEndpoint)
#include "tst_endpoint.moc"
