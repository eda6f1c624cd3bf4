// Several network cards: a scan through every card, each module reached through the card it
// answered on, copies heard on another card ignored, failures to send reported once per scan.
#include "support/fakes.h"
#include "support/testmain.h"

#include "ops/dispatch.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

constexpr int kCardA = 2;
constexpr int kCardB = 3;

const QString kNotSent = QStringLiteral("扫描广播未能从本计算机发出：");

// Runs a whole scan: the click and four expiries, with `answer` called after each broadcast.
template <typename Answer> void scan(Rig& rig, Answer answer)
{
    rig.ops.Scan_Click();
    answer();
    for (int i = 0; i < kScanBroadcasts; ++i) {
        rig.ops.Timer1_Timer();
        if (i < kScanBroadcasts - 1)
            answer();
    }
}

// Two cards, and a scan that lists module 1 through card A and module 2 through card B.
void listOnePerCard(Rig& rig)
{
    rig.link.cards = {kCardA, kCardB};
    scan(rig, [&] {
        rig.ops.Winsock_DataArrival(discoveryReply(1), kCardA);
        rig.ops.Winsock_DataArrival(discoveryReply(2), kCardB);
    });
}

// A value for each read stage that no other stage has, where the field shows it whole: a shifted
// read would show a neighbour's.
QByteArray distinctValue(int stage)
{
    const Parameter* parameter = parameterForStage(stage);
    if (parameter && parameter->layout == Layout::Number5)
        return QByteArray::number(10000 + stage);
    if (parameter && parameter->layout == Layout::Address)
        return QByteArray("010.000.001.") + QByteArray::number(100 + stage);
    return sampleValue(stage);
}

// Answers every query of a read of `module` until it ends: the reply arrives on each of `cards`
// in turn, as a module's broadcast reply does on two cards of one LAN.
void answerRead(Rig& rig, int module, const QList<int>& cards)
{
    while (rig.panel.timerRunning && route(rig.state.Op_Code) == Branch::Read) {
        const QByteArray reply = moduleReply(distinctValue(rig.state.Op_Code), module);
        for (int card : cards)
            rig.ops.Winsock_DataArrival(reply, card);
    }
}

void answerWrite(Rig& rig, int module, const QList<int>& cards)
{
    while (rig.panel.timerRunning && route(rig.state.Op_Code) == Branch::Write) {
        for (int card : cards)
            rig.ops.Winsock_DataArrival(moduleReply("OK", module), card);
    }
}

int readStages()
{
    int stages = 0;
    for (int stage = kFirstReadStage; stage <= kLastReadStage; ++stage)
        stages += parameterForStage(stage) != nullptr;
    return stages;
}

} // namespace

class TestOperationsCards : public QObject
{
    Q_OBJECT

private slots:
    void scanGoesOutThroughEveryCard()
    {
        Rig rig;
        rig.link.cards = {kCardA, kCardB};
        scan(rig, [] {});
        QCOMPARE(rig.link.sent, QList<QByteArray>(8, "SETUP"));
        QCOMPARE(rig.link.sentCards, (QList<int>{kCardA, kCardB, kCardA, kCardB, kCardA, kCardB, kCardA, kCardB}));
        QCOMPARE(rig.panel.timerArms, 4);
        QVERIFY(!rig.panel.log.contains(kNotSent));
    }

    // No card that can broadcast (only the loopback): through the routing table, as always.
    void withoutCardsThroughTheRoutingTable()
    {
        Rig rig;
        scan(rig, [&] { rig.discover(1); });
        QCOMPARE(rig.link.sentCards, QList<int>(4, kAnyCard));
        QCOMPARE(rig.state.Device_Table[0].card, kAnyCard);
        rig.select(0);
        rig.ops.Device_List_Click();
        QCOMPARE(rig.link.sentCards.last(), kAnyCard);
    }

    void modulesKeepTheCardTheyAnsweredOn()
    {
        Rig rig;
        listOnePerCard(rig);
        QCOMPARE(rig.state.Device_Count, qint16(2));
        QCOMPARE(rig.state.Device_Table[0].card, kCardA);
        QCOMPARE(rig.state.Device_Table[1].card, kCardB);
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("检测到 2个设备。")));
    }

    // Two cards on one LAN: every discovery reply arrives on both; listed once, with the first.
    void replyOnTwoCardsListedOnceWithTheFirst()
    {
        Rig rig;
        rig.link.cards = {kCardA, kCardB};
        scan(rig, [&] {
            for (int card : {kCardB, kCardA}) {
                rig.ops.Winsock_DataArrival(discoveryReply(1), card);
                rig.ops.Winsock_DataArrival(discoveryReply(1), card);
            }
        });
        QCOMPARE(rig.panel.items.size(), 1);
        QCOMPARE(rig.state.Device_Count, qint16(1));
        QCOMPARE(rig.state.Device_Table[0].card, kCardB);
    }

    // A module already listed is reached through the card of its first answer to each new scan:
    // after a USB adapter is plugged in again, under a new index, a scan finds the module anew.
    void cardOfAListedModuleFollowsItsFirstAnswerToAScan()
    {
        Rig rig;
        rig.discover(1, kCardA);
        scan(rig, [&] {
            rig.ops.Winsock_DataArrival(discoveryReply(1), 7);
            rig.ops.Winsock_DataArrival(discoveryReply(1), kCardA);
        });
        QCOMPARE(rig.state.Device_Count, qint16(1));
        QCOMPARE(rig.state.Device_Table[0].card, 7);
    }

    // A read of the module behind the second card: every query through that card only; copies of
    // the replies heard on the first card change nothing.
    void readThroughTheModulesCard_data()
    {
        QTest::addColumn<QList<int>>("arrivals");
        QTest::newRow("own card only") << QList<int>{kCardB};
        QTest::newRow("other card first") << QList<int>{kCardA, kCardB};
        QTest::newRow("own card first") << QList<int>{kCardB, kCardA};
    }
    void readThroughTheModulesCard()
    {
        QFETCH(QList<int>, arrivals);
        Rig rig;
        rig.discover(1, kCardA);
        rig.ops.Winsock_DataArrival(discoveryReply(2), kCardB);
        rig.link.clear();
        rig.panel.fillFields();
        rig.select(1);
        rig.ops.pickDevice();
        answerRead(rig, 2, arrivals);

        QCOMPARE(rig.link.sent.size(), readStages());
        QCOMPARE(rig.link.sentThrough(kCardB).size(), readStages());
        QVERIFY(rig.link.sentThrough(kCardA).isEmpty());
        for (const QByteArray& frame : std::as_const(rig.link.sent))
            QVERIFY(frame.startsWith(identity(2)));
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("读取设备 2数据成功！")));
        // Every field shows the value of its own stage, none its neighbour's.
        for (int stage = kFirstReadStage; stage <= kLastReadStage; ++stage) {
            const Parameter* parameter = parameterForStage(stage);
            if (!parameter || (parameter->layout != Layout::Number5 && parameter->layout != Layout::Address))
                continue;
            QCOMPARE(rig.panel.fieldText(fieldOf(*parameter)), QString::fromLatin1(distinctValue(stage)));
        }
        QVERIFY(rig.panel.actionsEnabled(true));
    }

    // A datagram on another card while a read waits: ignored, the timer keeps running.
    void otherCardDoesNotAnswer()
    {
        Rig rig;
        rig.discover(1, kCardA);
        rig.select(0);
        rig.ops.pickDevice();
        const qint16 stage = rig.state.Op_Code;
        const QString log = rig.panel.log;
        rig.ops.Winsock_DataArrival(moduleReply(sampleValue(stage)), kCardB);
        QCOMPARE(rig.state.Op_Code, stage);
        QVERIFY(rig.panel.timerRunning);
        QCOMPARE(rig.link.sent.size(), 1);
        QCOMPARE(rig.panel.log, log);
        // An arrival whose card the system did not name is not known to be another card's.
        rig.ops.Winsock_DataArrival(moduleReply(sampleValue(stage)), kAnyCard);
        QVERIFY(rig.state.Op_Code > stage);
    }

    // A module whose card is not known takes its replies from any card, as before.
    void unknownCardTakesAnyArrival()
    {
        Rig rig;
        rig.discover(1);
        rig.select(0);
        rig.ops.pickDevice();
        answerRead(rig, 1, {kCardB});
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("读取设备 1数据成功！")));
        QCOMPARE(rig.link.sentCards, QList<int>(readStages(), kAnyCard));
    }

    void writeThroughTheModulesCardWithCopiesOnTheOther()
    {
        Rig rig;
        rig.discover(1, kCardA);
        rig.select(0);
        rig.ops.pickDevice();
        answerRead(rig, 1, {kCardA, kCardB});
        rig.link.clear();
        rig.ops.Setting_Click();
        answerWrite(rig, 1, {kCardB, kCardA});
        QVERIFY(
            rig.panel.log.endsWith(QStringLiteral("设置设备 1数据成功，请重新读取设备参数以检查参数的设置是否正确。")));
        QCOMPARE(rig.link.sentThrough(kCardA).size(), readStages());
        QCOMPARE(rig.link.sent.size(), readStages());
        // Each setting once, in the order of the stages: no copy was taken for the next one.
        QStringList expected;
        for (int stage = kFirstReadStage; stage <= kLastReadStage; ++stage) {
            if (const Parameter* parameter = parameterForStage(stage))
                expected << QString::fromLatin1(parameter->code) +
                                (parameter->channel ? QString(QLatin1Char(parameter->channel)) : QString());
        }
        QCOMPARE(commands(rig.link.sent), expected);
    }

    void restoreAndResetThroughTheModulesCard()
    {
        Rig rig;
        rig.discover(1, kCardA);
        rig.ops.Winsock_DataArrival(discoveryReply(2), kCardB);
        rig.link.clear();
        rig.select(1);
        rig.ops.L_Default_Click();
        QCOMPARE(rig.link.sentCards, QList<int>{kCardB});
        rig.ops.Winsock_DataArrival(moduleReply("OK", 2), kCardA); // heard on the other card: not the answer
        QVERIFY(rig.panel.timerRunning);
        rig.ops.Winsock_DataArrival(moduleReply("OK", 2), kCardB);
        QVERIFY(!rig.panel.timerRunning);
        QVERIFY(rig.panel.log.contains(QStringLiteral("恢复设备 2默认参数成功")));

        rig.ops.Run_Device_Click();
        QCOMPARE(rig.link.sentCards, (QList<int>{kCardB, kCardB}));
        QCOMPARE(rig.link.last(), identity(2) + "END");
    }

    // A module reset leaves the table; the entries after it move down with their cards.
    void removalKeepsCardsPaired()
    {
        Rig rig;
        rig.ops.Winsock_DataArrival(discoveryReply(1), kCardA);
        rig.ops.Winsock_DataArrival(discoveryReply(2), kCardB);
        rig.ops.Winsock_DataArrival(discoveryReply(3), 9);
        rig.select(0);
        rig.ops.Run_Device_Click();
        QCOMPARE(rig.state.Device_Count, qint16(2));
        QCOMPARE(rig.state.Device_Table[0].discovery, discoveryReply(2));
        QCOMPARE(rig.state.Device_Table[0].card, kCardB);
        QCOMPARE(rig.state.Device_Table[1].discovery, discoveryReply(3));
        QCOMPARE(rig.state.Device_Table[1].card, 9);
        QCOMPARE(rig.state.Device_Table[2].card, kAnyCard);
        rig.link.clear();
        rig.select(1);
        rig.ops.pickDevice();
        QCOMPARE(rig.link.sentCards, QList<int>{9});
        QVERIFY(rig.link.last().startsWith(identity(3)));
    }

    // A card that fails does not stop the others, and says nothing while any broadcast went out.
    void oneCardFailingIsNoFailure()
    {
        Rig rig;
        rig.link.cards = {kCardA, kCardB};
        rig.link.failingCards = {kCardA};
        scan(rig, [&] { rig.ops.Winsock_DataArrival(discoveryReply(1), kCardB); });
        QCOMPARE(rig.link.sentCards, QList<int>(4, kCardB));
        QVERIFY(!rig.panel.log.contains(kNotSent));
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("检测到 1个设备。")));
    }

    // Not one broadcast of the scan went out: one line with the system's reason, then the report.
    void noBroadcastSentSaysWhy()
    {
        Rig rig;
        rig.link.cards = {kCardA, kCardB};
        rig.link.failingCards = {kCardA, kCardB};
        rig.link.error = QStringLiteral("Network is down");
        scan(rig, [] {});
        QCOMPARE(rig.panel.log.count(kNotSent), 1);
        const QStringList lines = rig.panel.log.split(QStringLiteral("\r\n"));
        QCOMPARE(
            lines.mid(lines.size() - 3),
            (QStringList{kNotSent + QStringLiteral("card3: Network is down"), QStringLiteral("未检查到网络中的设备！"),
                         QStringLiteral("设备与计算机必须是在同一个交换机或路由器所支持的局域网内，不能经过路由器隔离。"
                                        "请检查网络连接，重新操作！")}));
    }

    // Without any card, the routing table's refusal ("no default route") is the reason given.
    void noRouteSaysWhy()
    {
        Rig rig;
        rig.link.failSends = true;
        scan(rig, [] {});
        QVERIFY(rig.panel.log.contains(kNotSent + QStringLiteral("Network unreachable\r\n未检查到网络中的设备！")));
    }

    // A card that went down between two scans is simply not used by the second: no error.
    void cardDownBetweenScansIsSkipped()
    {
        Rig rig;
        listOnePerCard(rig);
        rig.link.clear();
        rig.link.cards = {kCardB};
        scan(rig, [&] { rig.ops.Winsock_DataArrival(discoveryReply(2), kCardB); });
        QCOMPARE(rig.link.sentCards, QList<int>(4, kCardB));
        QVERIFY(!rig.panel.log.contains(kNotSent));
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("检测到 2个设备。")));
        // And the next scan after a failed one starts clean.
        rig.link.failSends = true;
        scan(rig, [] {});
        QVERIFY(rig.panel.log.contains(kNotSent));
        rig.link.failSends = false;
        scan(rig, [] {});
        QVERIFY(!rig.panel.log.contains(kNotSent));
    }

    void portUnavailableLine()
    {
        QCOMPARE(Operations::portUnavailable(65002, QStringLiteral("The bound address is already in use")),
                 QStringLiteral("无法使用本机UDP端口65002，收不到设备的回复：The bound address is already in use"));
    }
};

TARVIK_TEST_MAIN(TestOperationsCards)
#include "tst_operations_cards.moc"
