// The parameter table, the bytes of every request frame, and the routing of replies by Op_Code.
#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/dispatch.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik;

namespace {

const QByteArray kId = QByteArray::fromHex("001a2b3c4d5e");

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
    QTest::addColumn<QByteArray>("tail");
    int stage = 1;
    for (const char* code : {"ET", "GA", "IP", "SM", "EC", "", "UB", "UT", "UD", "TM", "BT", "UP", "US"}) {
        if (*code)
            QTest::addRow("%d %s", stage, code) << stage << QByteArray("AT") + code + QByteArray("\r\0", 2);
        ++stage;
    }
    for (const auto& [channel, first] : {std::pair{'1', 14}, {'2', 19}, {'3', 25}, {'4', 29}}) {
        stage = first;
        for (const char* code : {"SR", "PT", "DA", "DP"}) {
            QTest::addRow("%d %s%c", stage, code, channel) << stage << QByteArray("AT") + code + channel + '\r';
            ++stage;
        }
    }
}

void TestFrames::query()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, tail);
    const Parameter* parameter = parameterForStage(stage);
    QVERIFY(parameter);
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
    pick("ET last", 1, 5, "ATET=5\r");
    pick("ET none", 1, -1, "ATET=/\r");
    pick("UB 9600", 7, 3, "ATUB=3\r");
    pick("UD 8 bits", 9, 0, "ATUD=8\r");
    pick("UD none", 9, -1, "ATUD=7\r");
    pick("US 2 stop bits", 13, 1, "ATUS=2\r");
    pick("US none", 13, -1, "ATUS=0\r");
    pick("SR4 none", 29, -1, "ATSR4=/\r");
    // Text fields: the text as it stands, not trimmed, widened or checked.
    type("GA read form", 2, QStringLiteral("192.168.001.001"), "ATGA=192.168.001.001\r");
    type("IP as typed", 3, QStringLiteral("192.168.1.10"), "ATIP=192.168.1.10\r");
    type("TM empty", 10, QString(), "ATTM=\r");
    type("PT1 empty", 15, QString(), "ATPT1=\r");
    type("DA1 blanks kept", 16, QStringLiteral(" 10.0.0.1 "), "ATDA1= 10.0.0.1 \r");
    type("PT3 not a number", 26, QStringLiteral("abc"), "ATPT3=abc\r");
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
    // clang-format off
    for (const auto& [op, branch] : {std::pair{0, discovery}, {1, read}, {32, read}, {39, read}, {40, defaults},
                                     {41, read}, {99, read}, {100, write}, {101, write}, {132, write}, {-1, read},
                                     {32767, write}})
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
