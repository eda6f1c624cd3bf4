// Writing a module: a setting per parameter, each after the acknowledgement of the one before; refusals and retries.
#include "ops/dispatch.h"
#include "support/fakelan.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QSet>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QByteArray kOk = moduleReply("OK", 2);

// Two modules listed, the second one read last; its fields hold what module 3 holds (one value
// shorter than a read shows it, one drop-down without an entry, one text field empty: each goes out
// as the field holds it).
void prepare(Rig& rig)
{
    rig.discover(2);
    rig.select(1);
    const FakeModule values = FakeModule::number(3);
    for (const Parameter& p : kParameters)
        showValue(rig.panel, fieldOf(p), values.held(p));
    rig.panel.setFieldText(fieldNamed("S_IP"), QStringLiteral("192.168.1.10"));
    rig.panel.setComboIndex(fieldNamed("Ch2_SOCK_Mode"), -1);
    rig.panel.setFieldText(fieldNamed("UART_ByteDeli"), QString());
}

// The stage a setting of `p` leaves Op_Code at while its acknowledgement is awaited: the number
// before the next stage that carries one (stage numbers without a command are stepped over).
int awaitedStage(const Parameter& p)
{
    const int i = indexOf(p);
    return kOpWriteBase + (i + 1 < kParameterCount ? kParameters[i + 1].stage - 1 : p.stage);
}

// The command of each parameter, in table order.
QString commandOf(const Parameter& p)
{
    return QString::fromLatin1(p.code) + (p.channel ? QString(QLatin1Char(p.channel)) : QString());
}

const Parameter& first()
{
    return kParameters[0];
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
    QList<QByteArray> expected;
    for (const Parameter& p : kParameters) {
        QCOMPARE(rig.link.sent.size(), indexOf(p) + 1); // each setting only after the "OK" of the one before
        QVERIFY(rig.panel.timerRunning);
        awaited << rig.state.Op_Code;
        // The field's value as it stands when its setting goes out, byte for byte.
        expected << frames::setting(identity(2), p, shownValue(rig.panel, fieldOf(p))).value_or(QByteArray());
        QCOMPARE(awaited.last(), awaitedStage(p));
        acknowledge(rig, 1);
    }
    QCOMPARE(rig.link.sent, expected);
    QCOMPARE(expected[indexOf(parameterOf(fieldNamed("Ch4_D_Port")))], identity(2) + "ATDP4=00099\r");
    QCOMPARE(expected[indexOf(parameterOf(fieldNamed("S_IP")))], identity(2) + "ATIP=192.168.1.10\r");
    QCOMPARE(expected[indexOf(parameterOf(fieldNamed("Ch2_SOCK_Mode")))], identity(2) + "ATSR2=/\r");
    QCOMPARE(expected[indexOf(parameterOf(fieldNamed("UART_ByteDeli")))], identity(2) + "ATBT=\r");
    QCOMPARE(rig.state.Op_Code, kLastWriteStage);
    QCOMPARE(rig.state.Retry_Count, qint16(0));
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.timerArms, kParameterCount);
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
    QCOMPARE(commands(rig.link.sent).last(), commandOf(kParameters[9]));
    QCOMPARE(rig.state.Op_Code, awaitedStage(kParameters[9]));
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
    QCOMPARE(commands(rig.link.sent), QStringList(1 + kMaxRetries, commandOf(first())));
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
    // Up to the setting of channel 1's mode, whose acknowledgement is lost.
    const Parameter& lost = parameterOf(fieldNamed("Ch1_SOCK_Mode"));
    const qsizetype upTo = indexOf(lost) + 1;
    rig.ops.Setting_Click();
    while (rig.link.sent.size() < upTo)
        answerFrames(false);
    answerFrames(true);
    rig.ops.Timer1_Timer();
    QCOMPARE(rig.state.Retry_Count, qint16(1));
    QCOMPARE(rig.state.Op_Code, kFirstWriteStage);
    QCOMPARE(commands(rig.link.sent).mid(upTo - 1), (QStringList{commandOf(lost), commandOf(first())}));
    for (int guard = 0; guard < 100 && rig.panel.timerRunning; ++guard)
        answerFrames(false);
    QCOMPARE(rig.link.sent.size(), upTo + 2 * kParameterCount);
    const QStringList readBack = commands(rig.link.sent.mid(upTo + kParameterCount));
    QCOMPARE(QSet<QString>(readBack.begin(), readBack.end()).size(), kParameterCount);
    for (const QByteArray& query : rig.link.sent.mid(upTo + kParameterCount))
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
    const int sr3 = indexOf(parameterOf(fieldNamed("Ch3_SOCK_Mode")));
    acknowledge(rig, sr3);
    rig.ops.Timer1_Timer(); // lost at "SR3"
    acknowledge(rig, kParameterCount - 1);
    QCOMPARE(rig.state.Retry_Count, qint16(2)); // the acknowledged settings reset nothing
    rig.ops.Timer1_Timer();                     // lost at the last setting
    QCOMPARE(commands(rig.link.sent).count(commandOf(first())), 1 + kMaxRetries);
    QCOMPARE(rig.link.sent.size(), 3 + (sr3 + 1) + kParameterCount);
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
        QCOMPARE(rig.state.Op_Code, awaitedStage(parameterOf(fieldNamed("G_IP"))));
        rig.ops.Timer1_Timer();
    }
    QCOMPARE(commands(rig.link.sent), QStringList(1 + kMaxRetries, commandOf(first())));
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kFailed);
}

void TestWrite::acknowledgementAfterSuccess()
{
    Rig rig;
    prepare(rig);
    rig.ops.Setting_Click();
    acknowledge(rig, kParameterCount + 1);
    QCOMPARE(rig.link.sent.size(), kParameterCount);
    QCOMPARE(rig.state.Op_Code, kLastWriteStage);
    QVERIFY(!rig.panel.timerRunning);
    QCOMPARE(rig.panel.log, kBegins + QStringLiteral("\r\nT2\r\n") + kSucceeded); // the 29th changes nothing
}

TARVIK_TEST_MAIN(TestWrite)
#include "tst_operations_write.moc"
