// The parameter table, the bytes of every request frame, and the routing of replies by Op_Code.
#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/dispatch.h"
#include "ops/paramfile.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;

namespace {

const QByteArray kId = QByteArray::fromHex("001a2b3c4d5e");

const Parameter* named(const QString& field)
{
    return paramfile::parameterNamed(field);
}

} // namespace

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void query_data();
    void query();
    void stages();
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
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("tail");
    for (const Parameter& p : kParameters) {
        const QByteArray code = QByteArray("AT") + p.code;
        QTest::newRow(p.name) << QString::fromLatin1(p.name)
                              << (p.channel ? code + p.channel + '\r' : code + QByteArray("\r\0", 2));
    }
}

void TestFrames::query()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, tail);
    const Parameter* parameter = named(field);
    QVERIFY(parameter);
    const QByteArray frame = frames::query(kId, *parameter);
    QCOMPARE(frame.size(), 12);
    QCOMPARE(frame, kId + tail);
}

// A read steps from the first stage to the last through the table's stages and no others: the
// numbers between them carry no command and are stepped over. Scan, restoring defaults and the
// write stages carry none either.
void TestFrames::stages()
{
    QList<int> walked;
    for (int stage = kFirstReadStage; stage <= kLastReadStage; stage += 1 + gapAfterStage(stage))
        walked << stage;
    QList<int> table;
    for (const Parameter& p : kParameters)
        table << p.stage;
    QCOMPARE(walked, table);
    int withCommand = 0;
    for (int stage = -1; stage <= 140; ++stage)
        withCommand += parameterForStage(stage) != nullptr;
    QCOMPARE(withCommand, kParameterCount);
    for (int stage = kFirstReadStage; stage <= kLastReadStage; ++stage)
        QCOMPARE(parameterForStage(stage) != nullptr, table.contains(stage));
    for (int stage : {0, kLastReadStage + 1, 40, 100 + kFirstReadStage})
        QVERIFY2(!parameterForStage(stage), qPrintable(QString::number(stage)));
}

void TestFrames::setting_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("tail");
    const auto pick = [](const char* name, const char* field, int index, const char* tail) {
        QTest::newRow(name) << QString::fromLatin1(field) << index << QString() << QByteArray(tail);
    };
    const auto type = [](const char* name, const char* field, const QString& text, const char* tail) {
        QTest::newRow(name) << QString::fromLatin1(field) << -1 << text << QByteArray(tail);
    };
    // Drop-downs: one character, base + position; no selection sends the character below the base.
    pick("ET last", "Ethernet_Mode", 5, "ATET=5\r");
    pick("ET none", "Ethernet_Mode", -1, "ATET=/\r");
    pick("UB 9600", "UART_BaudRate", 3, "ATUB=3\r");
    pick("UD 8 bits", "UART_Bits", 0, "ATUD=8\r");
    pick("UD none", "UART_Bits", -1, "ATUD=7\r");
    pick("US 2 stop bits", "UART_Stopbit", 1, "ATUS=2\r");
    pick("US none", "UART_Stopbit", -1, "ATUS=0\r");
    pick("SR4 none", "Ch4_SOCK_Mode", -1, "ATSR4=/\r");
    // Text fields: the text as it stands, not trimmed, widened or checked.
    type("GA read form", "G_IP", QStringLiteral("192.168.001.001"), "ATGA=192.168.001.001\r");
    type("IP as typed", "S_IP", QStringLiteral("192.168.1.10"), "ATIP=192.168.1.10\r");
    type("TM empty", "UART_TimeDeli", QString(), "ATTM=\r");
    type("PT1 empty", "Ch1_Port_Number", QString(), "ATPT1=\r");
    type("DA1 blanks kept", "Ch1_D_IP", QStringLiteral(" 10.0.0.1 "), "ATDA1= 10.0.0.1 \r");
    type("PT3 not a number", "Ch3_Port_Number", QStringLiteral("abc"), "ATPT3=abc\r");
}

void TestFrames::setting()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QByteArray, tail);
    const Parameter* parameter = named(field);
    QVERIFY(parameter);
    const std::optional<QByteArray> frame = frames::setting(kId, *parameter, {index, text});
    QVERIFY(frame);
    QCOMPARE(*frame, kId + tail);
}

void TestFrames::settingNotBuilt_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("Chinese in GA") << QStringLiteral("G_IP") << QStringLiteral("192.168.一.1");
    QTest::newRow("Chinese alone") << QStringLiteral("G_IP") << QStringLiteral("网");
    QTest::newRow("Latin-1 letter") << QStringLiteral("Ch1_Port_Number") << QStringLiteral("8é");
    QTest::newRow("two-letter code, 32757 characters")
        << QStringLiteral("UART_TimeDeli") << QString(32757, QLatin1Char('1'));
    QTest::newRow("per-channel code, 32756 characters")
        << QStringLiteral("Ch1_Port_Number") << QString(32756, QLatin1Char('1'));
}

void TestFrames::settingNotBuilt()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QVERIFY(!frames::setting(kId, *named(field), {-1, text}));
}

// The longest values that still fit: the CR stands at position 32767.
void TestFrames::settingAtLengthLimit_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("length");
    QTest::newRow("TM") << QStringLiteral("UART_TimeDeli") << 32756;
    QTest::newRow("PT1") << QStringLiteral("Ch1_Port_Number") << 32755;
}

void TestFrames::settingAtLengthLimit()
{
    QFETCH(QString, field);
    QFETCH(int, length);
    const std::optional<QByteArray> frame =
        frames::setting(kId, *named(field), {-1, QString(length, QLatin1Char('7'))});
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
    // clang-format off
    for (const auto& [op, branch] : {std::pair{0, discovery}, {1, read}, {int(kLastReadStage), read}, {39, read},
                                     {40, defaults}, {41, read}, {99, read}, {100, write}, {101, write},
                                     {100 + kLastReadStage, write}, {-1, read}, {32767, write}})
        // clang-format on
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
