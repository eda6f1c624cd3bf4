// Reading a module: the pick, a query and reply per parameter, rejected values, and the read's retries.
#include "ops/dispatch.h"
#include "support/fakelan.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QSet>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// The modules the reads talk to (module n of the fakes): a value of their own for every parameter.
const FakeModule& module(int n)
{
    static const FakeModule modules[] = {FakeModule::number(1), FakeModule::number(2), FakeModule::number(3)};
    return modules[n - 1];
}

// The commands of a read, in the order the table gives its stages.
QStringList tableCommands()
{
    QStringList codes;
    for (const Parameter& p : kParameters)
        codes << QString::fromLatin1(p.code) + (p.channel ? QString(QLatin1Char(p.channel)) : QString());
    return codes;
}

int stageOf(Field field)
{
    return parameterOf(field).stage;
}

int stageOf(const char* name)
{
    return stageOf(fieldNamed(name));
}

// The module's answer to the query of `stage`, from byte 6 on.
QByteArray answerFor(int stage, int n = 1)
{
    return module(n).holds[static_cast<size_t>(indexOf(*parameterForStage(stage)))];
}

// Answers the query in progress as the module would.
void answer(Rig& rig, int n = 1)
{
    rig.ops.Winsock_DataArrival(moduleReply(answerFor(rig.state.Op_Code, n), n));
}

void answerAll(Rig& rig, int n = 1)
{
    while (rig.state.Op_Code != kLastReadStage || rig.panel.timerRunning)
        answer(rig, n);
}

// Whether the field of `p` shows what module n holds.
bool shows(const FakePanel& panel, const Parameter& p, int n = 1)
{
    const frames::FieldValue held = module(n).held(p);
    return p.isDropDown() ? panel.comboIndex(fieldOf(p)) == held.index : panel.fieldText(fieldOf(p)) == held.text;
}

bool showsAll(const FakePanel& panel, int n = 1)
{
    return test::showsAll(panel, module(n));
}

const QString kFailure = QStringLiteral("参数不成功！\r\n请检查计算机与设备之间的网络连接，重新操作！");

} // namespace

class TestRead : public QObject
{
    Q_OBJECT

private slots:
    void fullRead();
    void rejectedValuesReplaceLog();
    void notAnAnswerIsNotArrived_data();
    void notAnAnswerIsNotArrived();
    void nothingAwaitedAfterTheRead();
    void lateReplyAfterRestart_data();
    void lateReplyAfterRestart();
    void silenceRetriesTwiceThenFails();
    void stallRestartsFromFirstStage();
    void nothingSelected();
    void pickWithNothingSelected();
    void pickAfterOvertakenRead();
};

void TestRead::fullRead()
{
    Rig rig;
    rig.discover(3);
    rig.panel.fillFields();
    rig.panel.setActionsEnabled(true);
    rig.panel.selected = 1;
    rig.ops.pickDevice();

    QCOMPARE(rig.state.Sel_Device, qint16(1));
    QCOMPARE(rig.link.sent, QList<QByteArray>{identity(2) + QByteArray("ATET\r\0", 6)});
    QCOMPARE(rig.panel.timerInterval, 400);
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 2参数... ..."));
    QVERIFY(rig.panel.actionsEnabled(false));
    // Channels 3 and 4 keep the values of the module read before until their stages arrive.
    for (Field field : kAllFields) {
        QVERIFY2(rig.panel.isBlank(field) == parameterOf(field).blankedByRead(), parameterOf(field).name);
    }

    int replies = 0;
    for (const Parameter& p : kParameters) {
        QCOMPARE(rig.state.Op_Code, p.stage);
        QCOMPARE(rig.link.sent.size(), replies + 1); // each query only after the reply to the one before
        QVERIFY(rig.panel.timerRunning);
        answer(rig, 2);
        ++replies;
        QVERIFY2(shows(rig.panel, p, 2), p.name);
    }
    QCOMPARE(commands(rig.link.sent), tableCommands());
    for (const QByteArray& frame : rig.link.sent) {
        QCOMPARE(frame.size(), 12);
        QCOMPARE(frame.left(6), identity(2));
    }
    QVERIFY(showsAll(rig.panel, 2));
    QCOMPARE(rig.state.Op_Code, kLastReadStage);
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.timerArms, kParameterCount);
    QVERIFY(rig.panel.actionsEnabled(true));
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 2参数... ...\r\nT2\r\n读取设备 2数据成功！"));
    // The fields show module 2's read until the next read starts.
    QCOMPARE(rig.ops.shownModule().value_or(QByteArray()), identity(2));
    rig.ops.pickDevice();
    QVERIFY(!rig.ops.shownModule());
}

void TestRead::rejectedValuesReplaceLog()
{
    Rig rig;
    rig.discover(1);
    rig.panel.fillFields(); // another module's read, kept by channels 3 and 4 until their stages
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    rig.ops.Winsock_DataArrival(moduleReply("06"));
    QCOMPARE(rig.panel.log, QStringLiteral("以太网工作模式读取错误！"));
    QCOMPARE(rig.panel.comboIndex(fieldNamed("Ethernet_Mode")), -1);
    QCOMPARE(rig.state.Op_Code, stageOf("G_IP")); // the read goes on
    QCOMPARE(commands(rig.link.sent), tableCommands().mid(0, 2));
    while (rig.state.Op_Code != stageOf("UART_BaudRate"))
        answer(rig);
    rig.ops.Winsock_DataArrival(moduleReply("09"));
    QCOMPARE(rig.panel.log, QStringLiteral("读取通道1串口波特率错误！"));
    while (rig.state.Op_Code != stageOf("Ch3_SOCK_Mode"))
        answer(rig);
    rig.ops.Winsock_DataArrival(moduleReply("05"));
    QVERIFY(rig.panel.isBlank(fieldNamed("Ch3_SOCK_Mode")));
    answerAll(rig);
    QCOMPARE(rig.link.sent.size(), kParameterCount);
    QCOMPARE(rig.panel.log, QStringLiteral("读取通道3端口工作模式错误！\r\nT2\r\n读取设备 1数据成功！"));
}

// Every field as the panel shows it, to see that nothing changed.
QStringList shown(const FakePanel& panel)
{
    QStringList values;
    for (Field field : kAllFields)
        values << (parameterOf(field).isDropDown() ? QString::number(panel.comboIndex(field)) : panel.fieldText(field));
    return values;
}

// A datagram that is not the module's answer to the query in flight (too short or too long for the
// stage's layout, not digits where a number has them, another module's, a stranger's once the
// module has answered with its identity) is dropped, for drop-downs and text fields alike: no
// value, no stage step, no log entry, and the deadline of the query stands. A module that always
// answers so fails the read after its retries; it never reports success.
void TestRead::notAnAnswerIsNotArrived_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("sender"); // module 2 is listed too, module 9 is not
    QTest::newRow("drop-down, no digit") << stageOf("Ethernet_Mode") << QByteArray("0") << 1;
    QTest::newRow("parity, no digit") << stageOf("UART_Parity") << QByteArray("0") << 1;
    QTest::newRow("port, 4 digits") << stageOf("Ch1_Port_Number") << QByteArray("0500") << 1;
    QTest::newRow("channel 3 address, one byte short") << stageOf("Ch3_D_IP") << QByteArray("010.000.001.00") << 1;
    QTest::newRow("last stage, identity only") << int(kLastReadStage) << QByteArray() << 1;
    QTest::newRow("port with a letter") << stageOf("Ch4_Port_Number") << QByteArray("0x080") << 1;
    QTest::newRow("the other module's value") << stageOf("Ethernet_Mode") << QByteArray("05") << 2;
    QTest::newRow("a stranger's value") << stageOf("Ch1_D_Port") << QByteArray("09999") << 9;
}

void TestRead::notAnAnswerIsNotArrived()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, payload);
    QFETCH(int, sender);
    const auto readUpTo = [stage](Rig& rig) {
        rig.discover(2);
        rig.panel.setFieldText(fieldNamed("Ch3_D_IP"), QStringLiteral("001.002.003.004"));
        rig.panel.selected = 0;
        rig.ops.pickDevice();
        while (rig.state.Op_Code != stage)
            answer(rig);
    };
    const auto dropped = [&payload, sender](Rig& rig) {
        const qint16 stageBefore = rig.state.Op_Code;
        const QList<QByteArray> sent = rig.link.sent;
        const int arms = rig.panel.timerArms;
        const QString log = rig.panel.log;
        const QStringList fields = shown(rig.panel);
        rig.ops.Winsock_DataArrival(moduleReply(payload, sender));
        return rig.state.Op_Code == stageBefore && rig.link.sent == sent && rig.panel.timerRunning &&
               rig.panel.timerArms == arms && rig.panel.log == log && shown(rig.panel) == fields;
    };

    // The whole reply that follows in time is taken for the stage.
    Rig late;
    readUpTo(late);
    QVERIFY(dropped(late));
    answer(late);
    QVERIFY(shows(late.panel, *parameterForStage(stage)));

    Rig rig;
    readUpTo(rig);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        while (rig.state.Op_Code != stage)
            answer(rig);
        QVERIFY(dropped(rig));
        rig.ops.Timer1_Timer();
    }
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...\r\nT2\r\n读取设备 1") + kFailure);
    QVERIFY(!rig.panel.isEnabled(Control::Setting));
    QCOMPARE(commands(rig.link.sent).count(tableCommands().constFirst()), kMaxRetries + 1);
    // Channel 3's address was never read: it still shows what it showed before.
    if (stage <= stageOf("Ch3_D_IP"))
        QCOMPARE(rig.panel.fieldText(fieldNamed("Ch3_D_IP")), QStringLiteral("001.002.003.004"));
}

// Enter, or a click, with no item selected is no pick: nothing is sent, the log stays.
void TestRead::pickWithNothingSelected()
{
    Rig rig;
    rig.discover(2);
    rig.panel.setActionsEnabled(true);
    rig.panel.setLogText(QStringLiteral("LOG"));
    rig.ops.pickDevice();
    QVERIFY(rig.link.sent.isEmpty());
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.log, QStringLiteral("LOG"));
    QVERIFY(rig.panel.actionsEnabled(true));
}

// Once the read has ended nothing is awaited: further replies, the module's own or another PC's
// conversation with another module, change no field and add no entry.
void TestRead::nothingAwaitedAfterTheRead()
{
    Rig rig;
    rig.discover(2);
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    answerAll(rig);
    const QStringList fields = shown(rig.panel);
    for (int module : {1, 2})
        rig.ops.Winsock_DataArrival(moduleReply("65535", module));
    QCOMPARE(shown(rig.panel), fields);
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.link.sent.size(), kParameterCount);
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...\r\nT2\r\n读取设备 1数据成功！"));
}

// The reply to a query that timed out comes late, while the restarted read runs: before the read
// has reached that query again (a query of the same kind awaited), as its answer, after it, or
// never, while a later parameter holds the same value (that one's answer may be the late copy: it is
// set aside and its query asked again). The late reply is never taken for another query, never shows
// in another field, and the read ends with every value the module holds, confirmed by a further pass.
void TestRead::lateReplyAfterRestart_data()
{
    QTest::addColumn<int>("late");    // the stage whose reply is late
    QTest::addColumn<int>("arrives"); // the stage awaited when it arrives (0: never)
    QTest::newRow("a port while ET is awaited") << stageOf("Ch1_Port_Number") << stageOf("Ethernet_Mode");
    QTest::newRow("a port while a time is awaited") << stageOf("Ch1_D_Port") << stageOf("UART_TimeDeli");
    QTest::newRow("its own stage, the answer one late") << stageOf("UART_TimeDeli") << stageOf("UART_TimeDeli");
    QTest::newRow("after its stage, a number awaited") << stageOf("UART_TimeDeli") << stageOf("UART_ByteDeli");
    QTest::newRow("an address after its stage") << stageOf("S_IP") << stageOf("MASK");
    QTest::newRow("the first query's, while a one-digit query waits")
        << stageOf("Ethernet_Mode") << stageOf("Disp_Mode");
    QTest::newRow("never, an equal value after it") << stageOf("Disp_Mode") << 0;
}

void TestRead::lateReplyAfterRestart()
{
    QFETCH(int, late);
    QFETCH(int, arrives);
    Rig rig;
    rig.discover(1);
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    while (rig.state.Op_Code != late)
        answer(rig);
    const qsizetype firstAttempt = rig.link.sent.size();
    rig.ops.Timer1_Timer();
    while (arrives && rig.state.Op_Code != arrives)
        answer(rig);
    const QByteArray reply = moduleReply(answerFor(late));
    if (arrives)
        rig.ops.Winsock_DataArrival(reply);
    // Once the restarted read has had its own answer again, the late one is known for what it is:
    // not taken for the query in flight. (Before, it cannot be told apart: the passes decide.)
    if (arrives > late)
        QCOMPARE(rig.state.Op_Code, static_cast<qint16>(arrives));
    if (arrives == late) // taken: the module's own answer to the repeat is now the late one
        rig.ops.Winsock_DataArrival(reply);
    for (int guard = 0; guard < 100 && (rig.state.Op_Code != kLastReadStage || rig.panel.timerRunning); ++guard) {
        const qint16 stage = rig.state.Op_Code;
        const qsizetype sent = rig.link.sent.size();
        answer(rig);
        // Set aside as a late copy: asked again at once, or once no other request can bring it.
        if (rig.state.Op_Code == stage && rig.panel.timerRunning && rig.link.sent.size() == sent)
            rig.ops.Timer1_Timer();
    }
    QVERIFY(showsAll(rig.panel));
    // The restart was something unexpected: a further pass, in another order, confirmed the values.
    QVERIFY(rig.link.sent.size() >= firstAttempt + 2 * kParameterCount);
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...\r\nT2\r\n读取设备 1数据成功！"));
}

void TestRead::silenceRetriesTwiceThenFails()
{
    Rig rig;
    rig.discover(1);
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    for (int retry = 1; retry <= 2; ++retry) {
        rig.panel.setFieldText(fieldNamed("G_IP"), QStringLiteral("typed"));
        rig.ops.Timer1_Timer();
        QCOMPARE(rig.state.Retry_Count, qint16(retry));
        QCOMPARE(rig.state.Op_Code, kFirstReadStage);
        QVERIFY(rig.panel.timerRunning);
        QVERIFY(rig.panel.fieldText(fieldNamed("G_IP")).isEmpty()); // a retry blanks the fields again
    }
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...")); // retries write nothing
    rig.ops.Timer1_Timer();
    QCOMPARE(commands(rig.link.sent), QStringList(1 + kMaxRetries, tableCommands().first()));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QVERIFY(rig.panel.isEnabled(Control::Device_List));
    QVERIFY(rig.panel.isEnabled(Control::Run_Device));
    QVERIFY(!rig.panel.isEnabled(Control::Setting));
    QVERIFY(!rig.panel.isEnabled(Control::L_Default));
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...\r\nT2\r\n读取设备 1") + kFailure);
}

void TestRead::stallRestartsFromFirstStage()
{
    Rig rig;
    rig.discover(1);
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    const Parameter& stalled = parameterOf(fieldNamed("Ch1_Port_Number"));
    while (rig.state.Op_Code != stalled.stage)
        answer(rig);
    const int before = indexOf(stalled) + 1; // the queries up to the stalled one
    QCOMPARE(rig.link.sent.size(), before);
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.state.Retry_Count, qint16(1));
    QCOMPARE(rig.state.Op_Code, kFirstReadStage);
    QCOMPARE(commands(rig.link.sent).mid(before), tableCommands().mid(0, 1));

    answerAll(rig);
    // The restarted read, then one more pass that confirms it, in an order where no two neighbours
    // share a layout: each query once more.
    QCOMPARE(rig.link.sent.size(), before + 2 * kParameterCount);
    const QStringList confirmation = commands(rig.link.sent).mid(before + kParameterCount);
    QCOMPARE(QSet<QString>(confirmation.begin(), confirmation.end()).size(), kParameterCount);
    QVERIFY(confirmation != tableCommands());
    QCOMPARE(rig.state.Op_Code, kLastReadStage);
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 1参数... ...\r\nT2\r\n读取设备 1数据成功！"));

    // Retry_Count back at 0: the next read writes its start entry again.
    rig.ops.pickDevice();
    QCOMPARE(rig.panel.log, QStringLiteral("T3\r\n读取设备 1参数... ..."));
}

// With no item selected the read addresses the entry past the last live one: nothing is sent.
void TestRead::nothingSelected()
{
    Rig rig;
    rig.discover(2);
    rig.ops.Device_List_Click();
    QCOMPARE(rig.state.Sel_Device, qint16(2));
    QVERIFY(rig.panel.timerRunning);
    for (int i = 0; i < 3; ++i)
        rig.ops.Timer1_Timer();
    QVERIFY(rig.link.sent.isEmpty());
    QCOMPARE(rig.panel.log, QStringLiteral("T1\r\n读取设备 3参数... ...\r\nT2\r\n读取设备 3") + kFailure);
}

// A scan that overtakes a read leaves its retries counted; the user's next pick starts afresh.
void TestRead::pickAfterOvertakenRead()
{
    Rig rig;
    rig.discover(1);
    rig.panel.selected = 0;
    rig.ops.pickDevice();
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.state.Retry_Count, qint16(1));
    rig.ops.Scan_Click();
    for (int i = 0; i < 4; ++i)
        rig.ops.Timer1_Timer();
    rig.link.clear();

    rig.ops.pickDevice();
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QCOMPARE(rig.panel.log, QStringLiteral("T4\r\n读取设备 1参数... ..."));
    for (int i = 0; i < 3; ++i)
        rig.ops.Timer1_Timer();
    QCOMPARE(commands(rig.link.sent), QStringList(kMaxRetries + 1, tableCommands().constFirst()));
    QCOMPARE(rig.panel.log, QStringLiteral("T4\r\n读取设备 1参数... ...\r\nT5\r\n读取设备 1") + kFailure);
}

TARVIK_TEST_MAIN(TestRead)
#include "tst_operations_read.moc"
