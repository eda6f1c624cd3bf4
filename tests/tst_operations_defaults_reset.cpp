// Restoring a module's defaults, resetting it to run, and the three buttons with nothing selected.
#include "support/fakelan.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// After a complete read of module `index + 1` out of `count`.
void prepare(Rig& rig, int count, int index)
{
    rig.discover(count);
    rig.select(index);
    rig.state.Op_Code = kLastReadStage;
    rig.panel.fillFields();
    rig.panel.setActionsEnabled(true);
}

const QString kRestoreCheck = QStringLiteral("默认参数不成功！\r\n请检查计算机与设备之间的网络连接，重新操作！");

} // namespace

class TestDefaultsReset : public QObject
{
    Q_OBJECT

private slots:
    void nothingSelected_data();
    void nothingSelected();
    void restoreDefaults();
    void restoreDefaultsUnanswered_data();
    void restoreDefaultsUnanswered();
    void restoreDefaultsWithoutLiveModule();
    void resetSecondOfThree();
    void resetOnlyModule();
    void resetSendFails();
    void resetWithoutLiveModule();
    void resetWithFullTable_data();
    void resetWithFullTable();
};

void TestDefaultsReset::nothingSelected_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("Setting") << 0;
    QTest::newRow("L_Default") << 1;
    QTest::newRow("Run_Device") << 2;
}

void TestDefaultsReset::nothingSelected()
{
    QFETCH(int, button);
    Rig rig;
    prepare(rig, 2, 0);
    rig.panel.selected = -1;
    void (Operations::*const clicks[])() = {&Operations::Setting_Click, &Operations::L_Default_Click,
                                            &Operations::Run_Device_Click};
    (rig.ops.*clicks[button])();
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n没有选择设备！"));
    QVERIFY(rig.link.sent.isEmpty());
    QCOMPARE(rig.panel.timerArms, 0);
    QCOMPARE(rig.state.Op_Code, kLastReadStage);
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items.size(), 2);
    QCOMPARE(rig.panel.blankFields(), 0);
    QVERIFY(rig.panel.actionsEnabled(true));
}

void TestDefaultsReset::restoreDefaults()
{
    Rig rig;
    prepare(rig, 3, 1);
    rig.ops.L_Default_Click();
    QCOMPARE(rig.link.sent, QList<QByteArray>{identity(2) + QByteArray::fromHex("415444460d")});
    QCOMPARE(rig.state.Op_Code, qint16(40));
    QVERIFY(rig.panel.timerRunning);
    QVERIFY(rig.panel.actionsEnabled(true));
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n恢复设备 2默认参数... ..."));

    // Only the module's own acknowledgement is one: another module's "OK" and a datagram too short
    // to hold "OK" are not; "O" alone refuses; once the outcome is written nothing more is awaited.
    rig.ops.Winsock_DataArrival(moduleReply("OK", 3));
    rig.ops.Winsock_DataArrival(moduleReply("O", 2));
    QVERIFY(rig.panel.timerRunning);
    rig.ops.Winsock_DataArrival(moduleReply("OX", 2));
    QVERIFY(!rig.panel.timerRunning);
    rig.ops.Winsock_DataArrival(moduleReply("OK", 2));
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n恢复设备 2默认参数... ...\r\nT2\r\n恢复设备 2") + kRestoreCheck);
    QCOMPARE(rig.state.Op_Code, qint16(40));
    QCOMPARE(rig.link.sent.size(), 1);
    QCOMPARE(rig.panel.blankFields(), 0); // the window keeps the values read before
    QVERIFY(rig.panel.actionsEnabled(true));
}

// A module slower than the time-out: its "OK" comes after the failure was reported, at rest or while
// the user's next read waits for one of its replies. It changes nothing then, and the read shows
// exactly what the module holds.
void TestDefaultsReset::restoreDefaultsUnanswered_data()
{
    QTest::addColumn<QString>("lateAt"); // "": never; "rest": before the read; else the query it meets
    QTest::newRow("no late OK") << QString();
    QTest::newRow("late OK at rest") << QStringLiteral("rest");
    QTest::newRow("late OK at the first query") << QString::fromLatin1(kParameters[0].name);
    QTest::newRow("late OK at a one-digit drop-down") << QStringLiteral("Disp_Mode");
    QTest::newRow("late OK at a 4-digit number") << QStringLiteral("UART_TimeDeli");
}

void TestDefaultsReset::restoreDefaultsUnanswered()
{
    QFETCH(QString, lateAt);
    Rig rig;
    prepare(rig, 1, 0);
    rig.ops.L_Default_Click();
    rig.ops.Timer1_Timer();
    const QString failed =
        QStringLiteral("T1\r\n恢复设备 1默认参数... ...\r\nT2\r\n恢复设备 1默认参数不成功，请重新操作！");
    QCOMPARE(rig.panel.log, failed);
    QCOMPARE(rig.link.sent.size(), 1); // no retry, no read
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.state.Op_Code, qint16(40));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(rig.panel.actionsEnabled(true));

    const QByteArray lateOk = moduleReply("OK", 1);
    if (lateAt == QLatin1String("rest")) {
        rig.ops.Winsock_DataArrival(lateOk);
        QCOMPARE(rig.panel.log, failed);
        QCOMPARE(rig.state.Op_Code, qint16(40));
        QVERIFY(!rig.panel.timerRunning);
        QCOMPARE(rig.panel.blankFields(), 0);
    }
    FakeModule module = FakeModule::number(1);
    rig.link.clear();
    rig.ops.pickDevice();
    for (qsizetype answered = 0; rig.panel.timerRunning && answered < rig.link.sent.size(); ++answered) {
        const QByteArray frame = rig.link.sent[answered];
        const Parameter* p = parameterOfFrame(frame);
        if (p && lateAt == QLatin1String(p->name)) {
            lateAt.clear();
            rig.ops.Winsock_DataArrival(lateOk);
        }
        rig.ops.Winsock_DataArrival(module.answer(frame));
    }
    QCOMPARE(rig.panel.log, QStringLiteral("T3\r\n读取设备 1参数... ...\r\nT4\r\n读取设备 1数据成功！"));
    QVERIFY(showsAll(rig.panel, module));
    QVERIFY(!rig.panel.timerRunning);
}

// The module read last is gone from the list: nothing is built from a missing identity, and the
// silence is reported as for a module that does not answer.
void TestDefaultsReset::restoreDefaultsWithoutLiveModule()
{
    Rig rig;
    prepare(rig, 2, 0);
    rig.state.Sel_Device = 2;
    rig.ops.L_Default_Click();
    QVERIFY(rig.link.sent.isEmpty());
    QCOMPARE(rig.state.Op_Code, qint16(40));
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.panel.log,
             QStringLiteral("T1\r\n恢复设备 3默认参数... ...\r\nT2\r\n恢复设备 3默认参数不成功，请重新操作！"));
}

void TestDefaultsReset::resetSecondOfThree()
{
    Rig rig;
    prepare(rig, 3, 1);
    const QStringList items = rig.panel.items;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.sent, QList<QByteArray>{identity(2) + QByteArray::fromHex("454e44")});
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n对设备 2的复位运行成功。"));
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items, (QStringList{items[0], items[2]}));
    QCOMPARE(rig.state.Device_Table[0].discovery, discoveryReply(1));
    QCOMPARE(rig.state.Device_Table[1].discovery, discoveryReply(3));
    QVERIFY(rig.state.Device_Table[2].discovery.isEmpty());
    QCOMPARE(rig.panel.blankFields(), kFieldCount);
    // Nothing is awaited: the state of the operations and the controls stay as they were.
    QCOMPARE(rig.state.Op_Code, kLastReadStage);
    QCOMPARE(rig.state.Sel_Device, qint16(1));
    QCOMPARE(rig.panel.timerArms, 0);
    QVERIFY(rig.panel.actionsEnabled(true));
}

void TestDefaultsReset::resetOnlyModule()
{
    Rig rig;
    prepare(rig, 1, 0);
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.sent.size(), 1);
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n对设备 1的复位运行成功。"));
    QVERIFY(rig.panel.items.isEmpty());
    QCOMPARE(rig.state.Device_Count, qint16(0));
    QVERIFY(rig.state.Device_Table[0].discovery.isEmpty());
    QCOMPARE(rig.panel.blankFields(), kFieldCount);

    // With the list empty a further press writes and sends nothing, and blanks the fields.
    rig.panel.fillFields();
    rig.panel.selected = 0;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.sent.size(), 1);
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n对设备 1的复位运行成功。"));
    QCOMPARE(rig.panel.blankFields(), kFieldCount);
}

void TestDefaultsReset::resetSendFails()
{
    Rig rig;
    prepare(rig, 2, 0);
    rig.link.failSends = true;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n对设备 1的复位运行不成功。"));
    QCOMPARE(rig.state.Device_Count, qint16(1));
    QCOMPARE(rig.panel.items.size(), 1);
    QCOMPARE(rig.state.Device_Table[0].discovery, discoveryReply(2));
    QCOMPARE(rig.panel.blankFields(), kFieldCount);
}

// The module read last was removed already: nothing to reset, nothing outside the list to remove.
void TestDefaultsReset::resetWithoutLiveModule()
{
    Rig rig;
    prepare(rig, 2, 0);
    rig.state.Sel_Device = 2;
    rig.ops.Run_Device_Click();
    QVERIFY(rig.link.sent.isEmpty());
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n对设备 3的复位运行不成功。"));
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items.size(), 2);
    QCOMPARE(rig.state.Device_Table[1].discovery, discoveryReply(2));
    QCOMPARE(rig.panel.blankFields(), kFieldCount);
}

void TestDefaultsReset::resetWithFullTable_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("first") << 0;
    QTest::newRow("middle") << 100;
    QTest::newRow("last") << 253;
}

void TestDefaultsReset::resetWithFullTable()
{
    QFETCH(int, index);
    Rig rig;
    prepare(rig, 254, index);
    // Each module a fact of its own, different from its neighbours': whether it answers with its
    // identity, whether its copies were seen, the card it answered on.
    for (int i = 0; i < 254; ++i) {
        Device& device = rig.state.Device_Table[static_cast<size_t>(i)];
        device.carriesIdentity = i % 2 == 0;
        device.copiesSeen = i % 3 == 0;
        device.card = device.sendCard = i % 5;
    }
    const std::array<Device, 254> before = rig.state.Device_Table;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.last(), identity(index + 1) + "END");
    QCOMPARE(rig.state.Device_Count, qint16(253));
    QCOMPARE(rig.panel.items.size(), 253);
    QVERIFY(rig.state.Device_Table[253].discovery.isEmpty());
    // Items and entries stay paired, and the removed module is in neither.
    for (int i = 0; i < 253; ++i) {
        const QByteArray& entry = rig.state.Device_Table[static_cast<size_t>(i)].discovery;
        QCOMPARE(entry, discoveryReply(i < index ? i + 1 : i + 2));
        QCOMPARE(rig.panel.items[i], Operations::deviceItemText(entry.left(6)));
        const Device& now = rig.state.Device_Table[static_cast<size_t>(i)];
        const Device& was = before[static_cast<size_t>(i < index ? i : i + 1)];
        QCOMPARE(now.identity, was.identity);
        QCOMPARE(now.carriesIdentity, was.carriesIdentity);
        QCOMPARE(now.copiesSeen, was.copiesSeen);
        QCOMPARE(now.card, was.card);
        QCOMPARE(now.sendCard, was.sendCard);
    }
}

TARVIK_TEST_MAIN(TestDefaultsReset)
#include "tst_operations_defaults_reset.moc"
