// Datagrams no module sends: empty, 1, 5 and 7 bytes, and 65,507 bytes (the largest a UDP datagram
// can carry), under every Op_Code the tool can be in and the values in between; a table of 254
// modules and a 255th; identities of all zeros and all ones. Driven through the stand-ins.
#include "ops/dispatch.h"
#include "ops/replyrule.h"
#include "support/fakes.h"
#include "support/testmain.h"

#include <QTest>

#include <optional>

using namespace tarvik;
using namespace tarvik::test;

namespace {

constexpr int kLargestDatagram = 65507;
const QString kLog = QStringLiteral("LOG");

// A datagram of exactly `size` bytes: the start of `reply`, or `reply` followed by filler.
QByteArray sized(const QByteArray& reply, int size)
{
    QByteArray datagram = reply.left(size);
    datagram.append(size - datagram.size(), '\r');
    return datagram;
}

// Two modules listed, the first picked; every field shows a value (the first entry of each
// drop-down); an operation waits.
// Whether a reply is awaited under `opCode`.
bool prepare(Rig& rig, qint16 opCode)
{
    rig.discover(2);
    const bool awaits = rig.bringTo(opCode);
    for (Field field : kAllFields) {
        rig.panel.setFieldText(field, QStringLiteral("keep"));
        rig.panel.setComboIndex(field, 0);
    }
    for (Control c : {Control::Device_List, Control::Setting, Control::L_Default, Control::Run_Device})
        rig.panel.setControlEnabled(c, false);
    rig.panel.setLogText(kLog);
    rig.panel.timerRunning = true;
    rig.panel.timerArms = 0;
    rig.link.clear();
    return awaits;
}

bool fieldsKept(const FakePanel& panel, std::optional<Field> except = std::nullopt)
{
    for (Field field : kAllFields) {
        if (field == except)
            continue;
        const bool kept = parameterOf(field).isDropDown() ? panel.comboIndex(field) == 0
                                                          : panel.fieldText(field) == QLatin1String("keep");
        if (!kept)
            return false;
    }
    return true;
}

bool buttonsEnabled(const FakePanel& panel)
{
    for (Control c : {Control::Device_List, Control::Setting, Control::L_Default, Control::Run_Device}) {
        if (!panel.isEnabled(c))
            return false;
    }
    return true;
}

QByteArray head(const Parameter& parameter)
{
    QByteArray frame = identity(1) + "AT" + parameter.code;
    if (parameter.channel)
        frame += parameter.channel;
    return frame;
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void badLengths_data();
    void badLengths();
    void fullTableThen255th();
    void identitiesOfZerosAndOnes();
    void repeatedIdentityWithZeros();
};

void TestHostile::badLengths_data()
{
    QTest::addColumn<int>("opCode");
    QTest::addColumn<int>("size");
    QList<int> codes;
    for (int i = 0; i <= kLastReadStage; ++i)
        codes << i;
    codes << 40;
    for (int i = 100 + kFirstReadStage; i <= 100 + kLastReadStage; ++i)
        codes << i;
    // Values the tool never sets.
    codes << kLastReadStage + 1 << 39 << 41 << 99 << 100 << 101 + kLastReadStage << 200 << 32767 << -1 << -32768;
    for (int code : codes) {
        for (int size : {0, 1, 5, 7, kLargestDatagram})
            QTest::addRow("op%d-%dB", code, size) << code << size;
    }
}

void TestHostile::badLengths()
{
    QFETCH(int, opCode);
    QFETCH(int, size);
    const auto op = static_cast<qint16>(opCode);
    Rig rig;
    const bool awaits = prepare(rig, op);
    const QString nextStamp = rig.stamp(rig.stamps + 1);

    switch (route(op)) {
    case Branch::Discovery: {
        // Fewer than six bytes hold no identity: ignored. Anything longer is a new module.
        const QByteArray reply = sized(QByteArray(6, '\x7E'), size);
        rig.ops.Winsock_DataArrival(reply);
        QVERIFY(rig.link.sent.isEmpty());
        QCOMPARE(rig.panel.log, kLog);
        QVERIFY(rig.panel.timerRunning);
        if (size < 6) {
            QCOMPARE(rig.state.Device_Count, qint16(2));
            QCOMPARE(rig.panel.items.size(), 2);
        } else {
            QCOMPARE(rig.state.Device_Count, qint16(3));
            QCOMPARE(rig.panel.items.value(2), QStringLiteral("设备 ( 7E7E7E7E7E7E )"));
            QCOMPARE(rig.state.Device_Table[2].discovery, reply);
        }
        break;
    }
    case Branch::Defaults:
    case Branch::Write: {
        rig.ops.Winsock_DataArrival(sized(identity(1) + "OK", size));
        if (size < 8 || !awaits) {
            // Fewer than eight bytes cannot carry "OK" at bytes 6 and 7, and nothing awaits an
            // acknowledgement under a number the operations never wait under: not taken, and the
            // time-out still pends.
            QVERIFY(rig.panel.timerRunning);
            QVERIFY(rig.link.sent.isEmpty());
            QCOMPARE(rig.state.Op_Code, op);
            QCOMPARE(rig.panel.log, kLog);
        } else if (route(op) == Branch::Defaults) {
            QVERIFY(!rig.panel.timerRunning);
            QCOMPARE(rig.panel.log, kLog + QStringLiteral("\r\n") + nextStamp +
                                        QStringLiteral("\r\n恢复设备 1默认参数成功，请重新读取设备参数！\r\n"
                                                       "默认参数值请参考相关的用户手册。"));
        } else if (op == kLastWriteStage) {
            QVERIFY(rig.link.sent.isEmpty());
            QCOMPARE(rig.state.Retry_Count, qint16(0));
            QVERIFY(buttonsEnabled(rig.panel));
        } else {
            // Acknowledged: the setting of the next stage goes out, if that stage carries one.
            const Parameter* next = parameterForStage(static_cast<qint16>(op + 1) - kOpWriteBase);
            QCOMPARE(rig.link.sent.size(), next ? 1 : 0);
            if (next)
                QVERIFY(rig.link.sent[0].startsWith(head(*next) + '='));
            QVERIFY(rig.panel.timerRunning);
            QCOMPARE(rig.panel.log, kLog);
        }
        QVERIFY(fieldsKept(rig.panel));
        QCOMPARE(rig.state.Device_Count, qint16(2));
        break;
    }
    case Branch::Read: {
        const Parameter* parameter = parameterForStage(op);
        rig.ops.Winsock_DataArrival(sized(identity(1) + sampleValue(op), size));
        if (!parameter || !rule::fitsLength(parameter, size)) {
            // No read awaits this number, or the datagram is too short or too long for the stage's
            // layout: dropped as if it had not arrived; the time-out still pends.
            QVERIFY(fieldsKept(rig.panel));
            QCOMPARE(rig.panel.log, kLog);
            QCOMPARE(rig.state.Op_Code, op);
            QVERIFY(rig.link.sent.isEmpty());
            QVERIFY(rig.panel.timerRunning);
            QCOMPARE(rig.panel.timerArms, 0);
            break;
        }
        QVERIFY(fieldsKept(rig.panel, fieldOf(*parameter)));
        if (parameter->isDropDown())
            QCOMPARE(rig.panel.comboIndex(fieldOf(*parameter)), 1);
        else
            QVERIFY(!rig.panel.fieldText(fieldOf(*parameter)).contains(QLatin1String("keep")));
        // The chain goes on.
        const int next = op + gapAfterStage(op);
        if (next == kLastReadStage) {
            QVERIFY(rig.link.sent.isEmpty());
            QVERIFY(!rig.panel.timerRunning);
            QCOMPARE(rig.state.Retry_Count, qint16(0));
            QVERIFY(buttonsEnabled(rig.panel));
            QVERIFY(rig.panel.log.endsWith(QStringLiteral("读取设备 1数据成功！")));
        } else {
            QCOMPARE(rig.state.Op_Code, static_cast<qint16>(next + 1));
            const Parameter* query = parameterForStage(static_cast<qint16>(next + 1));
            QCOMPARE(rig.link.sent.size(), query ? 1 : 0);
            if (query)
                QCOMPARE(rig.link.sent[0], head(*query) + '\r' + QByteArray(12 - head(*query).size() - 1, '\0'));
            QVERIFY(rig.panel.timerRunning);
        }
        QCOMPARE(rig.state.Device_Count, qint16(2));
        break;
    }
    }
}

// The table holds 254 modules; the 255th is not stored, with one log entry however often it and
// others call; the list and the table stay paired.
void TestHostile::fullTableThen255th()
{
    Rig rig;
    rig.discover(254);
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.panel.items.size(), 254);
    rig.panel.setLogText(kLog);

    rig.ops.Winsock_DataArrival(discoveryReply(255));
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.panel.items.size(), 254);
    const QString full = QStringLiteral("设备列表已满（最多254个设备），其余设备未能列出。");
    QCOMPARE(rig.panel.log, kLog + QStringLiteral("\r\nT1\r\n") + full);
    for (int n = 255; n <= 300; ++n)
        rig.ops.Winsock_DataArrival(discoveryReply(n));
    QCOMPARE(rig.panel.log.count(full), 1);
    QCOMPARE(rig.state.Device_Count, qint16(254));
    for (int i = 0; i < 254; ++i) {
        QCOMPARE(rig.state.Device_Table[static_cast<size_t>(i)].discovery, discoveryReply(i + 1));
        QCOMPARE(rig.panel.items[i], Operations::deviceItemText(identity(i + 1)));
    }

    // The last module can be read, written and reset like any other.
    rig.panel.selected = 253;
    rig.ops.pickDevice();
    QCOMPARE(rig.link.last().left(6), identity(254));
    rig.state.Op_Code = 0;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.last(), identity(254) + "END");
    QCOMPARE(rig.state.Device_Count, qint16(253));
    // Room again: a new module is listed at the end.
    rig.ops.Winsock_DataArrival(discoveryReply(400));
    QCOMPARE(rig.state.Device_Count, qint16(254));
    QCOMPARE(rig.panel.items.last(), Operations::deviceItemText(identity(400)));
}

// Identities are bytes, not text: all zeros and all ones are modules like any other.
void TestHostile::identitiesOfZerosAndOnes()
{
    Rig rig;
    const QByteArray zeros(6, '\0');
    const QByteArray ones(6, '\xFF');
    rig.ops.Winsock_DataArrival(zeros + "\x00\x01");
    rig.ops.Winsock_DataArrival(ones);
    rig.ops.Winsock_DataArrival(zeros);
    rig.ops.Winsock_DataArrival(ones + "\xFF\xFF");
    QCOMPARE(rig.state.Device_Count, qint16(2));
    QCOMPARE(rig.panel.items,
             QStringList({QStringLiteral("设备 ( 000000000000 )"), QStringLiteral("设备 ( FFFFFFFFFFFF )")}));

    for (int index : {0, 1}) {
        const QByteArray id = index == 0 ? zeros : ones;
        rig.link.clear();
        rig.panel.selected = index;
        rig.ops.pickDevice();
        QCOMPARE(rig.link.last(), id + QByteArray("ATET\r\0", 6));
        while (rig.panel.timerRunning)
            rig.ops.Winsock_DataArrival(id + sampleValue(rig.state.Op_Code));
        QCOMPARE(rig.link.sent.size(), kParameterCount);
        for (const QByteArray& frame : rig.link.sent)
            QVERIFY(frame.startsWith(id + "AT"));
        QVERIFY(rig.panel.log.endsWith(QStringLiteral("读取设备 %1数据成功！").arg(index + 1)));

        rig.link.clear();
        rig.ops.Setting_Click();
        while (rig.panel.timerRunning)
            rig.ops.Winsock_DataArrival(id + "OK\r\n");
        QCOMPARE(rig.link.sent.size(), kParameterCount);
        for (const QByteArray& frame : rig.link.sent)
            QVERIFY(frame.startsWith(id + "AT"));
    }
    rig.panel.selected = 0;
    rig.state.Sel_Device = 0;
    rig.ops.Run_Device_Click();
    QCOMPARE(rig.link.last(), zeros + "END");
    QCOMPARE(rig.panel.items, QStringList{QStringLiteral("设备 ( FFFFFFFFFFFF )")});
    QCOMPARE(rig.state.Device_Table[0].discovery, ones);
}

// Identities that differ only after a zero byte are different modules.
void TestHostile::repeatedIdentityWithZeros()
{
    Rig rig;
    for (const char* hex : {"000000000001", "000000000002", "000000000001ff", "010000000000", "000000000002"})
        rig.ops.Winsock_DataArrival(QByteArray::fromHex(hex));
    QCOMPARE(rig.state.Device_Count, qint16(3));
    QCOMPARE(rig.state.Device_Table[0].discovery, QByteArray::fromHex("000000000001"));
    QCOMPARE(rig.panel.items[2], QStringLiteral("设备 ( 010000000000 )"));
}

TARVIK_TEST_MAIN(TestHostile)
#include "tst_hostile.moc"
