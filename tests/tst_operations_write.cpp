// Writing a module: 28 settings, each after the acknowledgement of the one before; refusals and retries.
#include "ops/dispatch.h"
#include "support/fakelan.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QSet>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// The window's fields and the setting each one makes, in the order of the wire.
struct Setting
{
    Field field;
    int index;
    const char* text;
    const char* frame; // after the identity
};

const Setting kSettings[] = {
    {fieldNamed("Ethernet_Mode"), 5, nullptr, "ATET=5\r"},
    {fieldNamed("G_IP"), -1, "192.168.001.001", "ATGA=192.168.001.001\r"},
    {fieldNamed("S_IP"), -1, "192.168.1.10", "ATIP=192.168.1.10\r"},
    {fieldNamed("MASK"), -1, "255.255.255.0", "ATSM=255.255.255.0\r"},
    {fieldNamed("Disp_Mode"), 1, nullptr, "ATEC=1\r"},
    {fieldNamed("UART_BaudRate"), 3, nullptr, "ATUB=3\r"},
    {fieldNamed("UART_Stream"), 0, nullptr, "ATUT=0\r"},
    {fieldNamed("UART_Bits"), 1, nullptr, "ATUD=9\r"},
    {fieldNamed("UART_TimeDeli"), -1, "0100", "ATTM=0100\r"},
    {fieldNamed("UART_ByteDeli"), -1, "", "ATBT=\r"},
    {fieldNamed("UART_Parity"), 2, nullptr, "ATUP=2\r"},
    {fieldNamed("UART_Stopbit"), 0, nullptr, "ATUS=1\r"},
    {fieldNamed("Ch1_SOCK_Mode"), 4, nullptr, "ATSR1=4\r"},
    {fieldNamed("Ch1_Port_Number"), -1, "05000", "ATPT1=05000\r"},
    {fieldNamed("Ch1_D_IP"), -1, "010.000.001.002", "ATDA1=010.000.001.002\r"},
    {fieldNamed("Ch1_D_Port"), -1, "00080", "ATDP1=00080\r"},
    {fieldNamed("Ch2_SOCK_Mode"), -1, nullptr, "ATSR2=/\r"},
    {fieldNamed("Ch2_Port_Number"), -1, "5001", "ATPT2=5001\r"},
    {fieldNamed("Ch2_D_IP"), -1, "10.0.1.3", "ATDA2=10.0.1.3\r"},
    {fieldNamed("Ch2_D_Port"), -1, "81", "ATDP2=81\r"},
    {fieldNamed("Ch3_SOCK_Mode"), 3, nullptr, "ATSR3=3\r"},
    {fieldNamed("Ch3_Port_Number"), -1, "05002", "ATPT3=05002\r"},
    {fieldNamed("Ch3_D_IP"), -1, "010.000.001.004", "ATDA3=010.000.001.004\r"},
    {fieldNamed("Ch3_D_Port"), -1, "00082", "ATDP3=00082\r"},
    {fieldNamed("Ch4_SOCK_Mode"), 0, nullptr, "ATSR4=0\r"},
    {fieldNamed("Ch4_Port_Number"), -1, "05003", "ATPT4=05003\r"},
    {fieldNamed("Ch4_D_IP"), -1, "010.000.001.005", "ATDA4=010.000.001.005\r"},
    {fieldNamed("Ch4_D_Port"), -1, "00083", "ATDP4=00083\r"},
};

const QByteArray kOk = moduleReply("OK", 2);

// Two modules listed, the second one read last; its fields hold kSettings.
void prepare(Rig& rig)
{
    rig.discover(2);
    rig.select(1);
    for (const Setting& s : kSettings) {
        if (s.text)
            rig.panel.setFieldText(s.field, QString::fromLatin1(s.text));
        else
            rig.panel.setComboIndex(s.field, s.index);
    }
}

void acknowledge(Rig& rig, int count)
{
    for (int i = 0; i < count; ++i)
        rig.ops.Winsock_DataArrival(kOk);
}

const QString kBegins = QStringLiteral("T1\r\n设置设备 2的参数... ...");
const QString kSucceeded = QStringLiteral("设置设备 2数据成功，请重新读取设备参数以检查参数的设置是否正确。");
const QString kRefused = QStringLiteral("设置设备 2数据不成功！\r\n请检查计算机与设备之间的网络连接。");
const QString kFailed = QStringLiteral("设置设备 2参数不成功！\r\n请检查计算机与设备之间的网络连接，重新操作！");

} // namespace

class TestWrite : public QObject
{
    Q_OBJECT

private slots:
    void writesAllSettingsInOrder();
    void refusal_data();
    void refusal();
    void silenceGivesThreeAttempts();
    void lostAcknowledgementRestarts_data();
    void lostAcknowledgementRestarts();
    void lossesAtDifferentStagesUseBothRestarts();
    void unbuildableSettingStallsEachAttempt();
    void acknowledgementAfterSuccess();
};

void TestWrite::writesAllSettingsInOrder()
{
    Rig rig;
    prepare(rig);
    rig.panel.setActionsEnabled(true);
    rig.ops.Setting_Click();
    QCOMPARE(rig.panel.log, kBegins);
    QVERIFY(rig.panel.actionsEnabled(false));
    // Each field is read when its setting is built: an edit made now still goes out.
    rig.panel.setFieldText(fieldNamed("Ch4_D_Port"), QStringLiteral("00099"));

    QList<int> awaited;
    for (int i = 0; i < 28; ++i) {
        QCOMPARE(rig.link.sent.size(), i + 1); // each setting only after the "OK" of the one before
        QVERIFY(rig.panel.timerRunning);
        awaited << rig.state.Op_Code;
        acknowledge(rig, 1);
    }
    QList<QByteArray> expected;
    for (const Setting& s : kSettings)
        expected << identity(2) + s.frame;
    expected.last() = identity(2) + "ATDP4=00099\r";
    QCOMPARE(rig.link.sent, expected);
    // After "EC", "DP1" and "DP2" the stage already stands before the next used one.
    QCOMPARE(awaited, (QList<int>{101, 102, 103, 104, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115,
                                  116, 118, 119, 120, 121, 124, 125, 126, 127, 128, 129, 130, 131, 132}));
    QCOMPARE(rig.state.Op_Code, qint16(132));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.timerArms, 28);
    QVERIFY(rig.panel.actionsEnabled(true));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kSucceeded);
}

// From the module, anything but "O" "K" at bytes 6 and 7 refuses; the write stops at once, without
// a retry. What is not the module's acknowledgement (too short, another module's, a stranger's once
// the module has answered with its identity) is as if it had not come.
void TestWrite::refusal_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("refuses");
    QTest::newRow("NO") << moduleReply("NO", 2) << true;
    QTest::newRow("O then X") << moduleReply("OX", 2) << true;
    QTest::newRow("lower case") << moduleReply("ok", 2) << true;
    QTest::newRow("OK at 7 and 8") << moduleReply("xOK", 2) << true;
    QTest::newRow("7 bytes") << moduleReply("O", 2) << false;
    QTest::newRow("identity alone") << identity(2) << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("the other module's refusal") << moduleReply("ER", 1) << false;
    QTest::newRow("a stranger's refusal") << moduleReply("ER", 9) << false;
}

void TestWrite::refusal()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, refuses);
    Rig rig;
    prepare(rig);
    rig.ops.Setting_Click();
    rig.link.clear();
    rig.ops.Timer1_Timer(); // a first lost acknowledgement: Retry_Count 1
    acknowledge(rig, 9);
    rig.ops.Winsock_DataArrival(datagram); // refuses the tenth setting, "BT", or is no answer
    if (!refuses) {
        QVERIFY(rig.panel.timerRunning);
        QCOMPARE(rig.panel.log, kBegins);
        QCOMPARE(rig.link.sent.size(), 10);
        rig.ops.Winsock_DataArrival(moduleReply("NO", 2));
    }
    QCOMPARE(rig.link.sent.size(), 10);
    QCOMPARE(commands(rig.link.sent).last(), QStringLiteral("BT"));
    QCOMPARE(rig.state.Op_Code, qint16(111));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QVERIFY(rig.panel.actionsEnabled(true));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kRefused);

    // The write has ended: a late "OK" is no answer to anything.
    acknowledge(rig, 1);
    QCOMPARE(rig.link.sent.size(), 10);
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kRefused);
}

void TestWrite::silenceGivesThreeAttempts()
{
    Rig rig;
    prepare(rig);
    rig.ops.Setting_Click();
    rig.ops.Timer1_Timer();
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.state.Retry_Count, qint16(2));
    QCOMPARE(rig.panel.log, kBegins); // restarts write no entry
    QVERIFY(rig.panel.actionsEnabled(false));
    rig.ops.Timer1_Timer();
    QCOMPARE(commands(rig.link.sent), QStringList(3, QStringLiteral("ET")));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QVERIFY(rig.panel.actionsEnabled(true));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kFailed);
}

// One lost acknowledgement restarts the write from "ET"; after it an "OK" may be the late one of
// the setting before, so the module is read back: the write succeeds when it holds every value, and
// is refused when it does not.
void TestWrite::lostAcknowledgementRestarts_data()
{
    QTest::addColumn<bool>("holds");
    QTest::newRow("holds every value") << true;
    QTest::newRow("holds another port") << false;
}

void TestWrite::lostAcknowledgementRestarts()
{
    QFETCH(bool, holds);
    Rig rig;
    prepare(rig);
    // Values the module takes, so that it holds what was written.
    rig.panel.setFieldText(fieldNamed("UART_ByteDeli"), QStringLiteral("0512"));
    rig.panel.setComboIndex(fieldNamed("Ch2_SOCK_Mode"), 2);
    FakeModule module = FakeModule::number(2);
    qsizetype answered = 0;
    // The module answers the frames sent so far (the last one's answer lost, if asked).
    const auto answerFrames = [&](bool loseLast) {
        const qsizetype upTo = rig.link.sent.size();
        for (; answered < upTo; ++answered) {
            if (!holds && !rig.link.sent[answered].contains('='))
                module.value("Ch1_D_Port") = "09999";
            const QByteArray reply = module.answer(rig.link.sent[answered]);
            if (!(loseLast && answered + 1 == upTo))
                rig.ops.Winsock_DataArrival(reply);
        }
    };
    rig.ops.Setting_Click();
    while (rig.link.sent.size() < 13)
        answerFrames(false);
    answerFrames(true);
    rig.ops.Timer1_Timer(); // the acknowledgement of "SR1" is lost
    QCOMPARE(rig.state.Retry_Count, qint16(1));
    QCOMPARE(rig.state.Op_Code, qint16(101));
    QCOMPARE(commands(rig.link.sent).mid(12), (QStringList{"SR1", "ET"}));
    for (int guard = 0; guard < 100 && rig.panel.timerRunning; ++guard)
        answerFrames(false);
    QCOMPARE(rig.link.sent.size(), 13 + 2 * kParameterCount);
    const QStringList readBack = commands(rig.link.sent.mid(13 + kParameterCount));
    QCOMPARE(QSet<QString>(readBack.begin(), readBack.end()).size(), kParameterCount);
    for (const QByteArray& query : rig.link.sent.mid(13 + kParameterCount))
        QVERIFY(!query.contains('='));
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + (holds ? kSucceeded : kRefused));
    QVERIFY(rig.panel.actionsEnabled(true));
}

void TestWrite::lossesAtDifferentStagesUseBothRestarts()
{
    Rig rig;
    prepare(rig);
    rig.ops.Setting_Click();
    acknowledge(rig, 2);
    rig.ops.Timer1_Timer(); // lost at "IP"
    acknowledge(rig, 20);
    rig.ops.Timer1_Timer(); // lost at "SR3"
    acknowledge(rig, 27);
    QCOMPARE(rig.state.Retry_Count, qint16(2)); // the acknowledged settings reset nothing
    rig.ops.Timer1_Timer();                     // lost at "DP4"
    QCOMPARE(commands(rig.link.sent).count(QStringLiteral("ET")), 3);
    QCOMPARE(rig.link.sent.size(), 3 + 21 + 28);
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kFailed);
}

// A Chinese character in the gateway: no "GA" frame, so every attempt waits in vain after "ET".
void TestWrite::unbuildableSettingStallsEachAttempt()
{
    Rig rig;
    prepare(rig);
    rig.panel.setFieldText(fieldNamed("G_IP"), QStringLiteral("192.168.一.1"));
    rig.ops.Setting_Click();
    for (int attempt = 0; attempt < 3; ++attempt) {
        acknowledge(rig, 1);
        QCOMPARE(rig.state.Op_Code, qint16(102));
        rig.ops.Timer1_Timer();
    }
    QCOMPARE(commands(rig.link.sent), QStringList(3, QStringLiteral("ET")));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kFailed);
}

void TestWrite::acknowledgementAfterSuccess()
{
    Rig rig;
    prepare(rig);
    rig.ops.Setting_Click();
    acknowledge(rig, 29);
    QCOMPARE(rig.link.sent.size(), 28);
    QCOMPARE(rig.state.Op_Code, qint16(132));
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kSucceeded); // the 29th changes nothing
}

TARVIK_TEST_MAIN(TestWrite)
#include "tst_operations_write.moc"
