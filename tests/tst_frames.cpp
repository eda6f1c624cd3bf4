// The parameter table, the bytes of every request frame, and the routing of replies by Op_Code.
#include "link/catalogue.h"
#include "link/dispatch.h"
#include "link/frames.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;

namespace {

const QByteArray kId = QByteArray::fromHex("001a2b3c4d5e");

QByteArray bytes(const char* text, int size)
{
    return QByteArray(text, size);
}

} // namespace

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void query_data();
    void query();
    void stagesWithoutCommand();
    void setting_data();
    void setting();
    void settingNotBuilt_data();
    void settingNotBuilt();
    void settingAtLengthLimit_data();
    void settingAtLengthLimit();
    void otherFrames();
    void route_data();
    void route();
};

// Every query is 12 bytes: a two-letter code ends CR 0x00, a per-channel code ends CR.
void TestFrames::query_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("tail");
    const auto row = [](int stage, Field field, QByteArray tail) {
        QTest::addRow("%d", stage) << stage << static_cast<int>(field) << tail;
    };
    row(1, Field::Ethernet_Mode, bytes("ATET\r\0", 6));
    row(2, Field::G_IP, bytes("ATGA\r\0", 6));
    row(3, Field::S_IP, bytes("ATIP\r\0", 6));
    row(4, Field::MASK, bytes("ATSM\r\0", 6));
    row(5, Field::Disp_Mode, bytes("ATEC\r\0", 6));
    row(7, Field::UART_BaudRate, bytes("ATUB\r\0", 6));
    row(8, Field::UART_Stream, bytes("ATUT\r\0", 6));
    row(9, Field::UART_Bits, bytes("ATUD\r\0", 6));
    row(10, Field::UART_TimeDeli, bytes("ATTM\r\0", 6));
    row(11, Field::UART_ByteDeli, bytes("ATBT\r\0", 6));
    row(12, Field::UART_Parity, bytes("ATUP\r\0", 6));
    row(13, Field::UART_Stopbit, bytes("ATUS\r\0", 6));
    row(14, Field::Ch1_SOCK_Mode, "ATSR1\r");
    row(15, Field::Ch1_Port_Number, "ATPT1\r");
    row(16, Field::Ch1_D_IP, "ATDA1\r");
    row(17, Field::Ch1_D_Port, "ATDP1\r");
    row(19, Field::Ch2_SOCK_Mode, "ATSR2\r");
    row(20, Field::Ch2_Port_Number, "ATPT2\r");
    row(21, Field::Ch2_D_IP, "ATDA2\r");
    row(22, Field::Ch2_D_Port, "ATDP2\r");
    row(25, Field::Ch3_SOCK_Mode, "ATSR3\r");
    row(26, Field::Ch3_Port_Number, "ATPT3\r");
    row(27, Field::Ch3_D_IP, "ATDA3\r");
    row(28, Field::Ch3_D_Port, "ATDP3\r");
    row(29, Field::Ch4_SOCK_Mode, "ATSR4\r");
    row(30, Field::Ch4_Port_Number, "ATPT4\r");
    row(31, Field::Ch4_D_IP, "ATDA4\r");
    row(32, Field::Ch4_D_Port, "ATDP4\r");
}

void TestFrames::query()
{
    QFETCH(int, stage);
    QFETCH(int, field);
    QFETCH(QByteArray, tail);
    const Parameter* parameter = parameterForStage(stage);
    QVERIFY(parameter);
    QCOMPARE(static_cast<int>(parameter->field), field);
    QCOMPARE(&parameterForField(static_cast<Field>(field)), parameter);
    const QByteArray frame = frames::query(kId, *parameter);
    QCOMPARE(frame.size(), 12);
    QCOMPARE(frame, kId + tail);
}

void TestFrames::stagesWithoutCommand()
{
    int withCommand = 0;
    for (int stage = -1; stage <= 140; ++stage) {
        if (parameterForStage(stage))
            ++withCommand;
    }
    QCOMPARE(withCommand, 28);
    for (int stage : {0, 6, 18, 23, 24, 33, 40, 101})
        QVERIFY2(!parameterForStage(stage), qPrintable(QString::number(stage)));

    // The unused numbers are stepped over: one after 5 and after 17, two after 22, nothing elsewhere.
    QList<int> gaps;
    for (int stage = 1; stage <= 32; ++stage) {
        if (gapAfterStage(stage))
            gaps << stage << gapAfterStage(stage);
    }
    QCOMPARE(gaps, (QList<int>{5, 1, 17, 1, 22, 2}));
}

void TestFrames::setting_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("tail");
    const auto pick = [](const char* name, int stage, int index, const char* tail) {
        QTest::newRow(name) << stage << index << QString() << QByteArray(tail);
    };
    const auto type = [](const char* name, int stage, const QString& text, const char* tail) {
        QTest::newRow(name) << stage << -1 << text << QByteArray(tail);
    };
    // Drop-downs: one character, base + position; no selection sends the character below the base.
    pick("ET first", 1, 0, "ATET=0\r");
    pick("ET last", 1, 5, "ATET=5\r");
    pick("ET none", 1, -1, "ATET=/\r");
    pick("EC", 5, 1, "ATEC=1\r");
    pick("UB 9600", 7, 3, "ATUB=3\r");
    pick("UB last", 7, 8, "ATUB=8\r");
    pick("UT", 8, 1, "ATUT=1\r");
    pick("UD 8 bits", 9, 0, "ATUD=8\r");
    pick("UD 9 bits", 9, 1, "ATUD=9\r");
    pick("UD none", 9, -1, "ATUD=7\r");
    pick("UP even", 12, 2, "ATUP=2\r");
    pick("US 1 stop bit", 13, 0, "ATUS=1\r");
    pick("US 2 stop bits", 13, 1, "ATUS=2\r");
    pick("US none", 13, -1, "ATUS=0\r");
    pick("SR1", 14, 4, "ATSR1=4\r");
    pick("SR2", 19, 0, "ATSR2=0\r");
    pick("SR3", 25, 2, "ATSR3=2\r");
    pick("SR4 none", 29, -1, "ATSR4=/\r");
    // Text fields: the text as it stands, not trimmed, widened or checked.
    type("GA read form", 2, QStringLiteral("192.168.001.001"), "ATGA=192.168.001.001\r");
    type("IP as typed", 3, QStringLiteral("192.168.1.10"), "ATIP=192.168.1.10\r");
    type("SM", 4, QStringLiteral("255.255.255.000"), "ATSM=255.255.255.000\r");
    type("TM empty", 10, QString(), "ATTM=\r");
    type("BT", 11, QStringLiteral("0100"), "ATBT=0100\r");
    type("PT1 empty", 15, QString(), "ATPT1=\r");
    type("DA1 blanks kept", 16, QStringLiteral(" 10.0.0.1 "), "ATDA1= 10.0.0.1 \r");
    type("DP1", 17, QStringLiteral("00080"), "ATDP1=00080\r");
    type("PT2", 20, QStringLiteral("05000"), "ATPT2=05000\r");
    type("DA2", 21, QStringLiteral("010.000.001.002"), "ATDA2=010.000.001.002\r");
    type("DP2", 22, QStringLiteral("8080"), "ATDP2=8080\r");
    type("PT3", 26, QStringLiteral("abc"), "ATPT3=abc\r");
    type("DA3", 27, QStringLiteral("1.2.3.4"), "ATDA3=1.2.3.4\r");
    type("DP3", 28, QStringLiteral("65535"), "ATDP3=65535\r");
    type("PT4", 30, QStringLiteral("1"), "ATPT4=1\r");
    type("DA4", 31, QStringLiteral("255.255.255.255"), "ATDA4=255.255.255.255\r");
    type("DP4", 32, QStringLiteral("00000"), "ATDP4=00000\r");
}

void TestFrames::setting()
{
    QFETCH(int, stage);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QByteArray, tail);
    const Parameter* parameter = parameterForStage(stage);
    QVERIFY(parameter);
    const std::optional<QByteArray> frame = frames::setting(kId, *parameter, {index, text});
    QVERIFY(frame);
    QCOMPARE(*frame, kId + tail);
}

void TestFrames::settingNotBuilt_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QString>("text");
    QTest::newRow("Chinese in GA") << 2 << QStringLiteral("192.168.一.1");
    QTest::newRow("Chinese alone") << 2 << QStringLiteral("网");
    QTest::newRow("Latin-1 letter") << 15 << QStringLiteral("8é");
    QTest::newRow("two-letter code, 32757 characters") << 10 << QString(32757, QLatin1Char('1'));
    QTest::newRow("per-channel code, 32756 characters") << 15 << QString(32756, QLatin1Char('1'));
}

void TestFrames::settingNotBuilt()
{
    QFETCH(int, stage);
    QFETCH(QString, text);
    QVERIFY(!frames::setting(kId, *parameterForStage(stage), {-1, text}));
}

// The longest values that still fit: the CR stands at position 32767.
void TestFrames::settingAtLengthLimit_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("length");
    QTest::newRow("TM") << 10 << 32756;
    QTest::newRow("PT1") << 15 << 32755;
}

void TestFrames::settingAtLengthLimit()
{
    QFETCH(int, stage);
    QFETCH(int, length);
    const std::optional<QByteArray> frame =
        frames::setting(kId, *parameterForStage(stage), {-1, QString(length, QLatin1Char('7'))});
    QVERIFY(frame);
    QCOMPARE(frame->size(), 32768);
    QCOMPARE(frame->back(), '\r');
}

void TestFrames::otherFrames()
{
    QCOMPARE(frames::restoreDefaults(kId), QByteArray::fromHex("001a2b3c4d5e415444460d"));
    QCOMPARE(frames::resetAndRun(kId), QByteArray::fromHex("001a2b3c4d5e454e44"));
    QCOMPARE(frames::shutdownNotice(), QByteArray::fromHex("ffffffffffff454e44"));
    QCOMPARE(frames::discovery(), QByteArray("SETUP"));
    QCOMPARE(frames::identityOf(kId + "tail"), kId);
}

void TestFrames::route_data()
{
    QTest::addColumn<int>("opCode");
    QTest::addColumn<int>("branch");
    const int discovery = static_cast<int>(Branch::Discovery), defaults = static_cast<int>(Branch::Defaults),
              write = static_cast<int>(Branch::Write), read = static_cast<int>(Branch::Read);
    for (const auto& [op, branch] : {std::pair{0, discovery}, {1, read}, {32, read}, {39, read}, {40, defaults},
                                     {41, read}, {99, read}, {100, write}, {101, write}, {132, write}, {-1, read},
                                     {32767, write}})
        QTest::addRow("%d", op) << op << branch;
}

void TestFrames::route()
{
    QFETCH(int, opCode);
    QFETCH(int, branch);
    QCOMPARE(static_cast<int>(tarvik::route(static_cast<qint16>(opCode))), branch);
}

TARVIK_TEST_MAIN(TestFrames)
#include "tst_frames.moc"
