// End to end with several network cards: the test's namespace is the PC, with no default route;
// module networks are namespaces behind veth pairs (or a bridge that two cards share), each with
// its tarvik-sim and a listener that records what reaches that network.
#include "link/cards.h"
#include "link/frames.h"
#include "support/netlab.h"
#include "support/simbed.h"
#include "support/testmain.h"
#include "support/uiutil.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QString g_noNamespace; // why the test could not have a namespace of its own, if it could not

const QByteArray kIdA = QByteArray::fromHex("001A2B3C4D5E");
const QByteArray kIdB = QByteArray::fromHex("0102030A0B0C");
const QByteArray kShutdown = QByteArray(6, '\xFF') + "END";
const QString kNotSent = QStringLiteral("扫描广播未能从本计算机发出：");

// The queries of a read of `id`, in order.
QList<QByteArray> readQueries(const QByteArray& id)
{
    QList<QByteArray> queries;
    for (const Parameter& p : kParameters)
        queries << frames::query(id, p);
    return queries;
}

int rowOf(Bed& bed, const QByteArray& id)
{
    return static_cast<int>(bed.ui().deviceItems().indexOf(deviceItem(QString::fromLatin1(id.toHex().toUpper()))));
}

// Frames on a network that are addressed to the module `id`.
int framesFor(const WireTap& tap, const QByteArray& id)
{
    int n = 0;
    for (const QByteArray& bytes : tap.payloads())
        n += bytes.startsWith(id);
    return n;
}

} // namespace

class TestE2eCards : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<NetLab> m_lab;
    std::unique_ptr<Bed> m_bed;
    std::unique_ptr<WireTap> m_tapA;
    std::unique_ptr<WireTap> m_tapB;
    int m_nsA = -1;
    int m_nsB = -1;

    // The PC's cards tvkA (172.20.0.1) and tvkB (172.21.0.1), no default route; behind tvkA the
    // module 001A2B3C4D5E at 192.168.1.100, behind tvkB 0102030A0B0C at 192.168.2.100.
    void twoNetworks()
    {
        m_nsA = m_lab->addNetwork(QStringLiteral("tvkA"), QStringLiteral("172.20.0.1/24"),
                                  QStringLiteral("192.168.1.100/24"));
        m_nsB = m_lab->addNetwork(QStringLiteral("tvkB"), QStringLiteral("172.21.0.1/24"),
                                  QStringLiteral("192.168.2.100/24"));
        QVERIFY(m_nsA >= 0 && m_nsB >= 0);
        openTaps();
        QVERIFY(m_bed->open());
        QVERIFY(m_bed->startSim({QStringLiteral("--id"), QString::fromLatin1(kIdA.toHex())}, m_nsA));
        QVERIFY(m_bed->startSim({QStringLiteral("--id"), QString::fromLatin1(kIdB.toHex())}, m_nsB));
    }

    void openTaps()
    {
        m_tapA = std::make_unique<WireTap>();
        QVERIFY(m_tapA->open(kModulePort, m_nsA));
        if (m_nsB >= 0) {
            m_tapB = std::make_unique<WireTap>();
            QVERIFY(m_tapB->open(kModulePort, m_nsB));
        }
    }

    // Waits until the listeners have recorded what reached them so far.
    void syncTaps()
    {
        // A datagram crosses a veth pair at once; the marker then follows it through each listener.
        QVERIFY(m_tapA->sync());
        if (m_tapB)
            QVERIFY(m_tapB->sync());
    }

    void clearTaps()
    {
        m_tapA->clear();
        if (m_tapB)
            m_tapB->clear();
    }

private slots:
    void init()
    {
        if (!g_noNamespace.isEmpty())
            QSKIP(qPrintable(g_noNamespace));
        m_lab = std::make_unique<NetLab>();
        QVERIFY(m_lab->ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}));
        m_bed = std::make_unique<Bed>();
    }
    void cleanup()
    {
        m_bed.reset();
        m_tapA.reset();
        m_tapB.reset();
        m_lab.reset();
        m_nsA = m_nsB = -1;
    }

    // The scan finds the modules behind both cards; every command for a module goes through its
    // own card, and nothing of it reaches the other network.
    void twoNetworksNoDefaultRoute()
    {
        twoNetworks();
        for (const QString& route : NetLab::routes())
            QVERIFY2(!route.startsWith(QStringLiteral("default")), qPrintable(route));
        const QString tip = child<QLabel>(m_bed->ui().form(), "DISP_IP")->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("tvkA  172.20.0.1")) && tip.contains(QStringLiteral("tvkB  172.21.0.1")),
                 qPrintable(tip));

        QVERIFY(m_bed->scan(2));
        syncTaps();
        QCOMPARE(m_tapA->count("SETUP"), 4);
        QCOMPARE(m_tapB->count("SETUP"), 4);
        QCOMPARE(m_tapA->frames().first().sender, QHostAddress(QStringLiteral("172.20.0.1")));
        QCOMPARE(m_tapB->frames().first().sender, QHostAddress(QStringLiteral("172.21.0.1")));
        const int rowA = rowOf(*m_bed, kIdA);
        const int rowB = rowOf(*m_bed, kIdB);
        QVERIFY(rowA >= 0 && rowB >= 0);
        QCOMPARE(m_bed->state().Device_Table[static_cast<size_t>(rowA)].card,
                 NetLab::cardIndex(QStringLiteral("tvkA")));
        QCOMPARE(m_bed->state().Device_Table[static_cast<size_t>(rowB)].card,
                 NetLab::cardIndex(QStringLiteral("tvkB")));

        // Read, write, restore and reset the module behind the second card.
        clearTaps();
        QVERIFY(m_bed->read(rowB));
        for (const FieldValue& field : factoryFields(0))
            QCOMPARE(m_bed->ui().value(field.field), field.value);
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(
            QStringLiteral("设置设备 %1数据成功，请重新读取设备参数以检查参数的设置是否正确。").arg(rowB + 1)));
        m_bed->ui().click("L_Default");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("默认参数值请参考相关的用户手册。")));
        m_bed->ui().click("Run_Device");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("对设备 %1的复位运行成功。").arg(rowB + 1)));
        syncTaps();
        QCOMPARE(m_tapA->frames().size(), 0);
        QCOMPARE(framesFor(*m_tapB, kIdB), kParameterCount + kParameterCount + 1 + 1);
        QCOMPARE(m_tapB->frames().size(), kParameterCount + kParameterCount + 1 + 1);
        QCOMPARE(m_tapB->payloads().last(), kIdB + "END");

        // And a read of the module behind the first card sends nothing to the second network.
        clearTaps();
        QVERIFY(m_bed->read(rowOf(*m_bed, kIdA)));
        syncTaps();
        QCOMPARE(framesFor(*m_tapA, kIdA), kParameterCount);
        QCOMPARE(m_tapB->frames().size(), 0);

        // The shutdown notice goes out through every card.
        clearTaps();
        m_bed->ui().closeWindow();
        syncTaps();
        QCOMPARE(m_tapA->payloads(), QList<QByteArray>{kShutdown});
        QCOMPARE(m_tapB->payloads(), QList<QByteArray>{kShutdown});
    }

    // Two cards on one LAN: each broadcast goes out twice, each reply arrives twice, and a read
    // and a write still take every field in its place.
    void twoCardsOnOneLan()
    {
        m_nsA = m_lab->addSharedNetwork(QStringLiteral("tvkA"), QStringLiteral("10.1.0.1/24"), QStringLiteral("tvkB"),
                                        QStringLiteral("10.1.0.2/24"), QStringLiteral("10.1.0.100/24"));
        QVERIFY(m_nsA >= 0);
        openTaps();
        QVERIFY(m_bed->open());
        QVERIFY(m_bed->startSim({}, m_nsA));
        QMap<int, int> arrivals; // per card
        connect(&m_bed->ui().form().endpoint(), &UdpEndpoint::datagramArrived, this,
                [&](const QByteArray&, int card) { ++arrivals[card]; });

        QVERIFY(m_bed->scan(1));
        QCOMPARE(m_bed->ui().deviceItems(), QStringList{deviceItem(QStringLiteral("001A2B3C4D5E"))});
        syncTaps();
        QCOMPARE(m_tapA->count("SETUP"), 8); // four rounds, two cards
        const int cardA = NetLab::cardIndex(QStringLiteral("tvkA"));
        const int cardB = NetLab::cardIndex(QStringLiteral("tvkB"));
        QVERIFY(m_bed->state().Device_Table[0].card == cardA || m_bed->state().Device_Table[0].card == cardB);

        clearTaps();
        arrivals.clear();
        QVERIFY(m_bed->read(0));
        for (const FieldValue& field : factoryFields(0))
            QCOMPARE(m_bed->ui().value(field.field), field.value);
        syncTaps();
        QCOMPARE(m_tapA->payloads(), readQueries(kIdA)); // each query once
        QTRY_COMPARE(arrivals.value(cardA), kParameterCount);
        QTRY_COMPARE(arrivals.value(cardB), kParameterCount); // each reply twice

        m_bed->ui().type(fieldNamed("Ch1_Port_Number"), QStringLiteral("04321"));
        m_bed->ui().type(fieldNamed("S_IP"), QStringLiteral("192.168.001.177"));
        m_bed->ui().choose(fieldNamed("UART_BaudRate"), 7);
        m_bed->ui().choose(fieldNamed("Ch4_SOCK_Mode"), 2);
        clearTaps();
        m_bed->ui().click("Setting");
        QVERIFY(
            m_bed->waitForLastLine(QStringLiteral("设置设备 1数据成功，请重新读取设备参数以检查参数的设置是否正确。")));
        syncTaps();
        QCOMPARE(m_tapA->frames().size(), kParameterCount); // each setting once
        QVERIFY(m_bed->read(0));
        QCOMPARE(m_bed->ui().value(fieldNamed("Ch1_Port_Number")), QStringLiteral("04321"));
        QCOMPARE(m_bed->ui().value(fieldNamed("S_IP")), QStringLiteral("192.168.001.177"));
        QCOMPARE(m_bed->ui().value(fieldNamed("UART_BaudRate")), QStringLiteral("7"));
        QCOMPARE(m_bed->ui().value(fieldNamed("Ch4_SOCK_Mode")), QStringLiteral("2"));
        QCOMPARE(m_bed->ui().value(fieldNamed("G_IP")), QStringLiteral("192.168.001.001"));
        QCOMPARE(m_bed->ui().value(fieldNamed("Ch4_D_Port")), QStringLiteral("00000"));
    }

    // tarvik-cli with --interface on a LAN that both cards reach: the scan finds the module on the
    // card named, and every frame of a read goes out through it (the module answers on both).
    void cliUsesOnlyTheCardNamed_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("address");
        QTest::newRow("first card") << "tvkA"
                                    << "10.1.0.1";
        QTest::newRow("second card") << "tvkB"
                                     << "10.1.0.2";
    }

    void cliUsesOnlyTheCardNamed()
    {
        QFETCH(QString, card);
        QFETCH(QString, address);
        m_nsA = m_lab->addSharedNetwork(QStringLiteral("tvkA"), QStringLiteral("10.1.0.1/24"), QStringLiteral("tvkB"),
                                        QStringLiteral("10.1.0.2/24"), QStringLiteral("10.1.0.100/24"));
        QVERIFY(m_nsA >= 0);
        openTaps();
        QVERIFY(m_bed->startSim({QStringLiteral("--quiet")}, m_nsA));
        const auto cli = [&card](const QStringList& arguments) {
            QProcess process;
            process.start(QStringLiteral(TARVIK_CLI_PATH),
                          arguments + QStringList{QStringLiteral("--interface"), card});
            process.waitForFinished(30000);
            return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
        };
        const auto [scanned, listed] = cli({QStringLiteral("scan")});
        QCOMPARE(scanned, 0);
        QCOMPARE(listed.section(QLatin1Char(' '), 0, 2), QStringLiteral("001A2B3C4D5E  ") + card);
        clearTaps();
        QCOMPARE(cli({QStringLiteral("read"), QStringLiteral("001A2B3C4D5E")}).first, 0);
        syncTaps();
        QCOMPARE(framesFor(*m_tapA, kIdA), kParameterCount);
        for (const WireTap::Frame& frame : m_tapA->frames())
            QCOMPARE(frame.sender, QHostAddress(address));
    }

    // A card whose cable is pulled, then one taken down, between two scans: the next scan goes
    // out through the others, with no error. With no card left and no route, the scan says why.
    void cardGoingDownIsSkipped()
    {
        twoNetworks();
        QVERIFY(m_bed->scan(2));

        QVERIFY(m_lab->ip(
            {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("tvkAm"), QStringLiteral("down")}, m_nsA));
        QTRY_COMPARE(cards::usable().size(), 1);
        // tarvik-cli --interface tvkA would now be refused with this line.
        QCOMPARE(cards::notUsable(QStringLiteral("tvkA")),
                 QStringLiteral("no usable IPv4 interface named tvkA; usable: tvkB 172.21.0.1"));
        clearTaps();
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QVERIFY(m_bed->scan(2));
        QVERIFY(!m_bed->ui().log().contains(kNotSent));
        syncTaps();
        QCOMPARE(m_tapA->count("SETUP"), 0);
        QCOMPARE(m_tapB->count("SETUP"), 4);

        // Both down: no card can broadcast, the routing table has no route for the limited
        // broadcast, and the report says so once, with the system's reason.
        QVERIFY(
            m_lab->ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("tvkB"), QStringLiteral("down")}));
        QTRY_VERIFY(cards::usable().isEmpty());
        QVERIFY(m_bed->scan(2));
        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.filter(kNotSent).size(), 1);
        QVERIFY2(lines.value(lines.size() - 2).startsWith(kNotSent) &&
                     lines.value(lines.size() - 2).size() > kNotSent.size(),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(!child<QLabel>(m_bed->ui().form(), "DISP_IP")->toolTip().contains(QStringLiteral("tvk")));
    }

    // One card with a default route: the wire looks as it always did. Four "SETUP" 400 ms apart,
    // then each query once, all from the card's address and port 65002 to 255.255.255.255.
    void oneCardWithDefaultRouteUnchanged()
    {
        m_nsA = m_lab->addNetwork(QStringLiteral("tvkA"), QStringLiteral("172.20.0.1/24"),
                                  QStringLiteral("192.168.1.100/24"));
        QVERIFY(m_nsA >= 0);
        QVERIFY(m_lab->ip({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"),
                           QStringLiteral("dev"), QStringLiteral("tvkA")}));
        openTaps();
        QVERIFY(m_bed->open());
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")}, m_nsA));

        QVERIFY(m_bed->scan(2));
        QVERIFY(m_bed->read(1));
        syncTaps();
        QList<QByteArray> expected(4, "SETUP");
        const QByteArray second = QByteArray::fromHex("001A2B3C4D5F");
        expected << readQueries(second);
        QCOMPARE(m_tapA->payloads(), expected);
        const QList<WireTap::Frame>& frames = m_tapA->frames();
        for (int i = 1; i < 4; ++i) {
            const qint64 gap = frames[i].atMs - frames[i - 1].atMs;
            QVERIFY2(gap >= 370 && gap <= 1000, qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
        }
        for (const WireTap::Frame& frame : frames) {
            QCOMPARE(frame.sender, QHostAddress(QStringLiteral("172.20.0.1")));
            QCOMPARE(frame.senderPort, kLocalPort);
            QCOMPARE(frame.destination, QHostAddress(QHostAddress::Broadcast));
        }
        for (const FieldValue& field : factoryFields(1))
            QCOMPARE(m_bed->ui().value(field.field), field.value);
    }
};

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    // The PC's side is a namespace of this test's own, made before any thread starts.
    if (!NetLab::enterOwnNamespace(&g_noNamespace) && g_noNamespace.isEmpty())
        g_noNamespace = QStringLiteral("no network namespace of its own");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestE2eCards test;
    QTEST_SET_MAIN_SOURCE_PATH
    return tarvik::test::testStatus(QTest::qExec(&test, argc, argv));
}

#include "tst_e2e_cards.moc"
