// Discovery: the four "SETUP" broadcasts, the discovery replies and the scan report.
#include "support/fakes.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QString kScanBegins = QStringLiteral(
    "\r\n计算机正在扫描网络中的设备... ...\r\n"
    "本计算机与设备的IP地址可以不在同一个网段，但本计算机与设备必须在由交换机或路由器支持的同一个物理局域网内，"
    "不能被路由器隔离。");
const QString kNoneFound = QStringLiteral(
    "\r\n未检查到网络中的设备！\r\n"
    "设备与计算机必须是在同一个交换机或路由器所支持的局域网内，不能经过路由器隔离。请检查网络连接，重新操作！");
// Another PC's read of a module's address: its reply after the identity.
const QByteArray kRead = QByteArrayLiteral("192.168.001.010");
const QString kTableFull = QStringLiteral("\r\n设备列表已满（最多254个设备），其余设备未能列出。");

// Runs a whole scan: the click and four expiries, with `answer` called after each broadcast.
template <typename Answer> void scan(Rig& rig, Answer answer)
{
    rig.ops.Scan_Click();
    answer();
    for (int i = 0; i < 4; ++i) {
        rig.ops.Timer1_Timer();
        if (i < 3)
            answer();
    }
}

void scan(Rig& rig)
{
    scan(rig, [] {});
}

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void broadcastsFourTimesAndReports();
    void reportsNoDevice();
    void clickDuringScanCountsAsBroadcast();
    void sendErrorDoesNotStopScan();
    void secondScanAddsToFirst();
    void duplicatesByIdentityOnly();
    void itemText_data();
    void itemText();
    void repliesOutsideScanAreListed();
    void shortDatagramIgnored();
    void discoveryReplyIsWhatAnswersTheRounds_data();
    void discoveryReplyIsWhatAnswersTheRounds();
    void tableFull();
};

void TestScan::broadcastsFourTimesAndReports()
{
    Rig rig;
    rig.ops.Scan_Click();
    QCOMPARE(rig.link.sent, QList<QByteArray>{"SETUP"});
    QCOMPARE(rig.panel.timerInterval, 400);
    QCOMPARE(rig.state.Op_Code, qint16(0));
    QCOMPARE(rig.state.Scan_Round, qint16(1));
    QVERIFY(rig.panel.timerRunning);
    QVERIFY(!rig.panel.isEnabled(Control::Device_List));
    QCOMPARE(rig.panel.log, QStringLiteral("T1") + kScanBegins);

    // Both modules answer every broadcast; the discovery branch leaves the timer alone.
    const auto answer = [&] {
        rig.discover(2);
        QVERIFY(rig.panel.timerRunning);
    };
    answer();
    for (int round = 2; round <= 4; ++round) {
        rig.ops.Timer1_Timer();
        QCOMPARE(rig.link.sent.size(), round);
        QCOMPARE(rig.state.Scan_Round, qint16(round));
        answer();
    }
    QCOMPARE(rig.panel.log, QStringLiteral("T1") + kScanBegins); // later broadcasts write nothing

    rig.ops.Timer1_Timer();
    QCOMPARE(rig.link.sent, QList<QByteArray>(4, "SETUP"));
    QCOMPARE(rig.panel.timerArms, 4);
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.state.Scan_Round, qint16(0));
    QCOMPARE(rig.state.Op_Code, qint16(0));
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items,
             (QStringList{QStringLiteral("设备 ( 020000000001 )"), QStringLiteral("设备 ( 020000000002 )")}));
    QCOMPARE(rig.state.Device_Table[0].discovery, discoveryReply(1));
    QCOMPARE(rig.state.Device_Table[1].discovery, discoveryReply(2));
    QCOMPARE(rig.panel.log, QStringLiteral("T1") + kScanBegins + QStringLiteral("\r\nT2\r\n检测到 2个设备。"));
    for (Control c :
         {Control::Device_List, Control::Comm_Item, Control::Channel1, Control::Channel2, Control::Channel3})
        QVERIFY(rig.panel.isEnabled(c));
    QVERIFY(!rig.panel.isEnabled(Control::Setting));
    QVERIFY(!rig.panel.isEnabled(Control::L_Default));
}

void TestScan::reportsNoDevice()
{
    Rig rig;
    rig.panel.setControlEnabled(Control::Setting, true);
    rig.panel.setControlEnabled(Control::L_Default, true);
    rig.panel.setControlEnabled(Control::Run_Device, true);
    scan(rig);
    QCOMPARE(rig.link.sent.size(), 4);
    QCOMPARE(rig.panel.log, QStringLiteral("T1") + kScanBegins + QStringLiteral("\r\nT2") + kNoneFound);
    for (Control c : {Control::Device_List, Control::Setting, Control::L_Default, Control::Comm_Item, Control::Channel1,
                      Control::Channel2, Control::Channel3})
        QVERIFY(!rig.panel.isEnabled(c));
    QVERIFY(rig.panel.isEnabled(Control::Run_Device)); // scanning leaves it alone
}

void TestScan::clickDuringScanCountsAsBroadcast()
{
    Rig rig;
    rig.ops.Scan_Click();
    rig.ops.Timer1_Timer();
    rig.ops.Scan_Click(); // the user, between two expiries: the third broadcast
    QCOMPARE(rig.state.Scan_Round, qint16(3));
    rig.ops.Timer1_Timer();
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.link.sent.size(), 4);
    QCOMPARE(rig.state.Scan_Round, qint16(0));
    QCOMPARE(rig.panel.log, QStringLiteral("T1") + kScanBegins + QStringLiteral("\r\nT2") + kNoneFound);
}

void TestScan::sendErrorDoesNotStopScan()
{
    Rig rig;
    rig.link.failSends = true;
    scan(rig, [&] { rig.discover(1); });
    QCOMPARE(rig.panel.timerArms, 4);
    QVERIFY(rig.link.sent.isEmpty());
    // Not one broadcast went out: the report says so first, with the system's reason.
    QCOMPARE(rig.panel.log,
             QStringLiteral("T1") + kScanBegins +
                 QStringLiteral("\r\nT2\r\n扫描广播未能从本计算机发出：Network unreachable\r\n检测到 1个设备。"));
}

void TestScan::secondScanAddsToFirst()
{
    Rig rig;
    scan(rig, [&] { rig.discover(2); });
    scan(rig, [&] { rig.discover(3); });
    QCOMPARE(rig.state.Device_Count, qint16(3));
    QCOMPARE(rig.panel.items.size(), 3);
    QCOMPARE(rig.state.Device_Table[2].discovery, discoveryReply(3));
    // The second scan begins a fresh log: the first report is gone.
    QCOMPARE(rig.panel.log, QStringLiteral("T3") + kScanBegins + QStringLiteral("\r\nT4\r\n检测到 3个设备。"));
}

void TestScan::duplicatesByIdentityOnly()
{
    Rig rig;
    rig.ops.Winsock_DataArrival(discoveryReply(1));
    rig.ops.Winsock_DataArrival(identity(1) + "other tail"); // same identity: the first reply stays
    rig.ops.Winsock_DataArrival(identity(1));                // identity alone: still the same module
    rig.ops.Winsock_DataArrival(QByteArray::fromHex("030000000001") + QByteArray::fromHex("c0a801")); // byte 0
    rig.ops.Winsock_DataArrival(QByteArray::fromHex("020000000101") + QByteArray::fromHex("c0a801")); // byte 4
    QCOMPARE(rig.state.Device_Count, qint16(3));
    QCOMPARE(rig.panel.items.size(), 3);
    QCOMPARE(rig.state.Device_Table[0].discovery, discoveryReply(1));
    QCOMPARE(rig.panel.items[1], QStringLiteral("设备 ( 030000000001 )"));
    QCOMPARE(rig.panel.items[2], QStringLiteral("设备 ( 020000000101 )"));
    QCOMPARE(rig.panel.timerArms, 0);
    QVERIFY(rig.panel.log.isEmpty());
}

void TestScan::itemText_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("item");
    QTest::newRow("example") << QByteArray::fromHex("001a2b3c4d5e99") << QStringLiteral("设备 ( 001A2B3C4D5E )");
    QTest::newRow("leading zeros") << QByteArray::fromHex("0102030a0b0c") << QStringLiteral("设备 ( 0102030A0B0C )");
}

void TestScan::itemText()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, item);
    Rig rig;
    rig.ops.Winsock_DataArrival(datagram);
    QCOMPARE(rig.panel.items, QStringList{item});
    QCOMPARE(rig.state.Device_Table[0].discovery, datagram);
}

// Op_Code is 0 from start-up on and after a scan: any datagram then is a discovery reply.
void TestScan::repliesOutsideScanAreListed()
{
    Rig rig;
    rig.discover(1);
    QCOMPARE(rig.state.Device_Count, qint16(1));
    scan(rig);
    rig.ops.Winsock_DataArrival(discoveryReply(2));
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items.size(), 2);
    QVERIFY(rig.panel.log.endsWith(QStringLiteral("检测到 1个设备。"))); // no entry for the late one
}

void TestScan::shortDatagramIgnored()
{
    Rig rig;
    rig.ops.Winsock_DataArrival(QByteArray());
    rig.ops.Winsock_DataArrival(QByteArray::fromHex("0200000000"));
    QCOMPARE(rig.state.Device_Count, qint16(0));
    QVERIFY(rig.panel.items.isEmpty());
    rig.ops.Winsock_DataArrival(identity(7));
    QCOMPARE(rig.state.Device_Count, qint16(1));
}

// Another PC's conversation with a module is heard by every PC: its one-digit replies, "OK"s and
// refusals list nothing, and an address reply, heard in one round or two, before or after the
// module's answer, gives way to what answers most rounds: the module's discovery reply is kept.
void TestScan::discoveryReplyIsWhatAnswersTheRounds_data()
{
    QTest::addColumn<QByteArray>("before"); // heard before the scan, after the identity (empty: nothing)
    QTest::addColumn<QString>("rounds");    // per round, what is heard: r the read reply, d the discovery reply
    QTest::addColumn<bool>("owed");         // a read of ours owes r, and 运行 took the module off the list
    QTest::addColumn<bool>("tie");          // r is kept, and d is its rival: heard in as many rounds
    const QByteArray discovery = discoveryReply(1).mid(frames::kIdentitySize);
    QTest::newRow("a one-digit reply") << QByteArray("01") << "d" << false << false;
    QTest::newRow("an acknowledgement") << QByteArray("OK\r\n") << "d" << false << false;
    QTest::newRow("a refused setting") << QByteArray("ER") << "d" << false << false;
    QTest::newRow("a read reply first") << QByteArray() << "rd d d d" << false << false;
    QTest::newRow("a read reply in two rounds") << QByteArray() << "dr r d d" << false << false;
    QTest::newRow("a read reply where the module stays silent") << QByteArray() << "r d d d" << false << false;
    QTest::newRow("a read reply before the scan") << kRead << "d d" << false << false;
    // Listed from its discovery reply before the scan: a late reply heard first in a round keeps it.
    QTest::newRow("a late read reply in a scan after it was listed") << discovery << "rd" << false << false;
    // Heard in as many rounds as its discovery reply, and first: but ours, and late.
    QTest::newRow("a late reply to our read, the module off the list") << QByteArray() << "r d" << true << false;
    // Another PC's read reply first, and the module silent in all but one other round.
    QTest::newRow("a read reply and the discovery reply in one round each") << QByteArray() << "r d" << false << true;
}

void TestScan::discoveryReplyIsWhatAnswersTheRounds()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, rounds);
    QFETCH(bool, owed);
    Rig rig;
    if (owed) {
        // G_IP answered with the read reply, then asked again when the read starts again.
        rig.discover(1);
        rig.select(0);
        rig.ops.Device_List_Click();
        rig.ops.Winsock_DataArrival(identity(1) + "01");
        rig.ops.Winsock_DataArrival(identity(1) + kRead);
        rig.ops.Timer1_Timer();
        rig.ops.Winsock_DataArrival(identity(1) + "01");
        rig.ops.Run_Device_Click();
        QCOMPARE(rig.state.Device_Count, qint16(0));
    }
    if (!before.isEmpty())
        rig.ops.Winsock_DataArrival(identity(1) + before);
    const QStringList heard = rounds.split(QLatin1Char(' '));
    qsizetype round = 0;
    scan(rig, [&] {
        for (const QChar c : heard.value(round))
            rig.ops.Winsock_DataArrival(c == QLatin1Char('r') ? identity(1) + kRead : discoveryReply(1));
        ++round;
    });
    QFETCH(bool, tie);
    QCOMPARE(rig.state.Device_Count, qint16(1));
    QCOMPARE(rig.state.Device_Table[0].discovery, tie ? identity(1) + kRead : discoveryReply(1));
    QCOMPARE(rig.state.Device_Table[0].rival, tie ? discoveryReply(1) : QByteArray());
}

// The table holds 254 modules; a further one is not listed, and the user is told once.
void TestScan::tableFull()
{
    Rig rig;
    rig.discover(254);
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.panel.items.size(), 254);
    QCOMPARE(rig.state.Device_Table[253].discovery, discoveryReply(254));

    rig.ops.Winsock_DataArrival(discoveryReply(255));
    rig.ops.Winsock_DataArrival(discoveryReply(256));
    rig.ops.Winsock_DataArrival(discoveryReply(1));
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.panel.items.size(), 254);
    QCOMPARE(rig.panel.log, QStringLiteral("\r\nT1") + kTableFull);

    // A new scan may tell it again, once.
    rig.ops.Scan_Click();
    rig.ops.Winsock_DataArrival(discoveryReply(255));
    rig.ops.Winsock_DataArrival(discoveryReply(256));
    QCOMPARE(rig.panel.log, QStringLiteral("T2") + kScanBegins + QStringLiteral("\r\nT3") + kTableFull);

    // A removed module frees a place for the next one.
    rig.select(0);
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.state.Device_Count, qint16(253));
    rig.ops.Winsock_DataArrival(discoveryReply(255));
    rig.ops.Winsock_DataArrival(discoveryReply(256));
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.state.Device_Table[253].discovery, discoveryReply(255));
    QCOMPARE(rig.panel.items.size(), 254);
    QCOMPARE(rig.panel.log, QStringLiteral("T4\r\n对设备 1的复位运行成功。\r\nT5") + kTableFull);
}

TARVIK_TEST_MAIN(TestScan)
#include "tst_operations_scan.moc"
