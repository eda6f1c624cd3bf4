// Decoding of the read replies: one parameter per reply, fixed byte positions, ASCII digits.
#include "link/catalogue.h"
#include "ops/decode.h"
#include "ops/messages.h"
#include "ops/paramfile.h"
#include "ops/replyrule.h"
#include "support/testmain.h"

#include <QTest>

#include <algorithm>
#include <string_view>

using namespace tarvik;

Q_DECLARE_METATYPE(tarvik::rule::Verdict)

namespace {

// A reply of the read: six identity bytes the decoding never looks at, then the value text.
QByteArray reply(const QByteArray& fromByte6)
{
    return QByteArray::fromHex("ffeeddccbbaa") + fromByte6;
}

constexpr int kEntry = decode::Value::Entry;
constexpr int kText = decode::Value::Text;
constexpr int kRejected = decode::Value::Rejected;
constexpr int kShort = decode::Value::Short;

} // namespace

class TestDecode : public QObject
{
    Q_OBJECT

private slots:
    void value_data();
    void value();
    void rejectionMessage_data();
    void rejectionMessage();
    void replyRule_data();
    void replyRule();
};

void TestDecode::value_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("text");
    const auto entry = [](const char* name, int stage, const QByteArray& datagram, int position) {
        QTest::newRow(name) << stage << datagram << kEntry << position << QString();
    };
    const auto text = [](const char* name, int stage, const QByteArray& datagram, const char* value) {
        QTest::newRow(name) << stage << datagram << kText << -1 << QString::fromLatin1(value);
    };
    const auto rejected = [](const char* name, int stage, const QByteArray& datagram) {
        QTest::newRow(name) << stage << datagram << kRejected << -1 << QString();
    };
    const auto tooShort = [](const char* name, int stage, const QByteArray& datagram) {
        QTest::newRow(name) << stage << datagram << kShort << -1 << QString();
    };
    // One digit in byte 7; byte 6 is not read.
    entry("ET 0", 1, reply("00"), 0);
    entry("ET 5, byte 6 anything", 1, reply("x5"), 5);
    rejected("ET 6", 1, reply("06"));
    rejected("ET below 0", 1, reply("0/"));
    rejected("ET 0xFF", 1, reply("0\xff"));
    entry("EC 1", 5, reply("01"), 1);
    rejected("EC 2", 5, reply("02"));
    entry("UB 8", 7, reply("08"), 8);
    rejected("UB 9", 7, reply("09"));
    entry("UT 1", 8, reply("01"), 1);
    rejected("UT 2", 8, reply("02"));
    // Data bits: the digit is the number of bits, 8 or 9.
    entry("UD 8", 9, reply("08"), 0);
    entry("UD 9", 9, reply("09"), 1);
    rejected("UD 7", 9, reply("07"));
    rejected("UD :", 9, reply("0:"));
    entry("SR1 4", 14, reply("04"), 4);
    rejected("SR1 5", 14, reply("05"));
    entry("SR2 0", 19, reply("00"), 0);
    entry("SR3 3", 25, reply("03"), 3);
    rejected("SR4 below 0", 29, reply("0/"));
    // Parity and stop bits: byte 6 must be "0".
    entry("UP 0 0", 12, reply("00"), 0);
    entry("UP 0 2", 12, reply("02"), 2);
    rejected("UP 1 2", 12, reply("12"));
    rejected("UP 0 3", 12, reply("03"));
    entry("US 0 1", 13, reply("01"), 0);
    entry("US 0 2", 13, reply("02"), 1);
    rejected("US 0 0", 13, reply("00"));
    rejected("US 0 3", 13, reply("03"));
    rejected("US 1 2", 13, reply("12"));
    // Numbers keep their leading zeros; byte 6 is not part of a 4-digit number.
    text("TM, byte 6 ignored", 10, reply("x0100"), "0100");
    text("BT", 11, reply("09999"), "9999");
    text("PT1 00080", 15, reply("00080"), "00080");
    text("DP1 05000", 17, reply("05000"), "05000");
    // A byte that is not a digit gives the decimal text of its value minus 48.
    text("PT4 non-digits", 30, reply(QByteArray::fromHex("2f303a00ff")), "-1010-48207");
    text("DP4 bytes after 10 ignored", 32, reply("12345678"), "12345");
    // Addresses: four groups of three, bytes 9, 13 and 17 not read.
    text("GA", 2, reply("192.168.001.010"), "192.168.001.010");
    text("IP separators anything", 3, reply("010x000y001z002"), "010.000.001.002");
    text("SM", 4, reply("255.255.255.000"), "255.255.255.000");
    text("DA1 non-digit", 16, reply("19:.168.001.00/"), "1910.168.001.00-1");
    text("DA4", 31, reply("000.000.000.000"), "000.000.000.000");
    // Replies too short for the layout of their stage hold no value, for drop-downs and text
    // fields alike, and are never read past their end.
    tooShort("ET 7 bytes", 1, reply("0"));
    entry("ET 8 bytes", 1, reply("03"), 3);
    tooShort("US identity only", 13, reply(""));
    tooShort("UP 7 bytes, out of range", 12, reply("9"));
    tooShort("empty datagram", 12, QByteArray());
    tooShort("TM 10 bytes", 10, reply("0010"));
    text("TM 11 bytes", 10, reply("00010"), "0010");
    tooShort("PT2 10 bytes", 20, reply("0008"));
    text("PT2 11 bytes", 20, reply("00080"), "00080");
    tooShort("GA 20 bytes", 2, reply("192.168.001.01"));
    text("GA 21 bytes", 2, reply("192.168.001.010"), "192.168.001.010");
    // Whole but out of range: still rejected.
    rejected("SR3 8 bytes, 7", 25, reply("07"));
}

void TestDecode::value()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);
    QFETCH(int, entry);
    QFETCH(QString, text);
    const Parameter* parameter = parameterForStage(stage);
    QVERIFY(parameter);
    const decode::Value value = decode::reply(*parameter, datagram);
    QCOMPARE(static_cast<int>(value.kind), kind);
    if (kind == kEntry)
        QCOMPARE(value.entry, entry);
    if (kind == kText)
        QCOMPARE(value.text, text);
}

// What the log shows when a drop-down value is rejected; text fields are never rejected by content.
void TestDecode::rejectionMessage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QList<std::pair<const char*, const char*>> messages = {
        {"Ethernet_Mode", "以太网工作模式读取错误！"},         {"Disp_Mode", "显示模式读取错误！"},
        {"UART_BaudRate", "读取通道1串口波特率错误！"},        {"UART_Stream", "读取通道1串口通信数据流控制错误！"},
        {"UART_Bits", "读取通道1串口通信数据位长度错误！"},    {"UART_Parity", "读取通道1串口通信数据校验方式错误！"},
        {"UART_Stopbit", "读取通道1串口通信数据停止位错误！"}, {"Ch1_SOCK_Mode", "读取通道1端口工作模式错误！"},
        {"Ch2_SOCK_Mode", "读取通道2端口工作模式错误！"},      {"Ch3_SOCK_Mode", "读取通道3端口工作模式错误！"},
        {"Ch4_SOCK_Mode", "读取通道4端口工作模式错误！"},
    };
    for (const Parameter& p : kParameters) {
        const auto own = std::find_if(messages.begin(), messages.end(),
                                      [&](const auto& m) { return std::string_view(m.first) == p.name; });
        QTest::newRow(p.name) << QString::fromLatin1(p.name)
                              << (own == messages.end() ? QString() : QString::fromUtf8(own->second));
    }
}

void TestDecode::rejectionMessage()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    const Parameter* parameter = paramfile::parameterNamed(name);
    QVERIFY(parameter);
    QCOMPARE(parameter->isDropDown(), !message.isEmpty());
    const char* error = msg::readError(*parameter);
    QCOMPARE(error ? QString::fromUtf8(error) : QString(), message);
}

// Whether a datagram answers the exchange in flight with module 01..06 (card 2; module 02..07 is
// listed too), for a read of a stage or an acknowledgement (stage 0).
void TestDecode::replyRule_data()
{
    using rule::Verdict;
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("card");
    QTest::addColumn<bool>("carriesIdentity");
    QTest::addColumn<Verdict>("verdict");
    const QByteArray own = QByteArray::fromHex("010203040506");
    const QByteArray listed = QByteArray::fromHex("020304050607");
    const QByteArray stranger = QByteArray::fromHex("aabbccddeeff");
    const auto row = [](const char* name, int stage, const QByteArray& datagram, Verdict verdict, int card = 2,
                        bool carries = true) {
        QTest::newRow(name) << stage << datagram << card << carries << verdict;
    };
    row("a digit reply", 1, own + "05", Verdict::Answer);
    row("from a card not known", 1, own + "05", Verdict::Answer, 0);
    row("on another card", 1, own + "05", Verdict::OtherCard, 3);
    row("another listed module's", 1, listed + "05", Verdict::OtherModule, 2, false);
    row("a stranger's", 1, stranger + "05", Verdict::Stranger);
    row("a stranger's, the module never seen with its identity", 1, stranger + "05", Verdict::Unidentified, 2, false);
    row("its discovery reply", 1, own + "c0a8", Verdict::Discovery);
    row("five bytes", 1, own.left(5), Verdict::WrongLength);
    row("a digit reply one byte short", 1, own + "0", Verdict::WrongLength);
    row("a digit reply as long as a number's", 1, own + "00005", Verdict::WrongLength);
    row("a port", 15, own + "05000", Verdict::Answer);
    row("a port of 20 bytes", 15, own + "05000" + QByteArray(9, '\r'), Verdict::Answer);
    row("a port as long as an address", 15, own + "05000" + QByteArray(10, '\r'), Verdict::WrongLength);
    row("a port with a letter", 15, own + "05a00", Verdict::NotDigits);
    row("time splitting, byte 6 not read", 10, own + "x0100", Verdict::Answer);
    row("an address, separators not read", 16, own + "010x000x001x002", Verdict::Answer);
    row("an address with a slash", 16, own + "010.0/0.001.002", Verdict::NotDigits);
    row("an acknowledgement", 0, own + "OK", Verdict::Answer);
    row("a long refusal", 0, own + "ER\r\n0000000000000000", Verdict::Answer);
    row("an acknowledgement of 7 bytes", 0, own + "O", Verdict::WrongLength);
}

void TestDecode::replyRule()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, datagram);
    QFETCH(int, card);
    QFETCH(bool, carriesIdentity);
    QFETCH(rule::Verdict, verdict);
    const QByteArray own = QByteArray::fromHex("010203040506");
    const QByteArray discovery = own + "c0a8"; // the peer only looks at it: it must outlive the peer
    const rule::Peer peer{own, 2, discovery, carriesIdentity};
    const auto isListed = [](QByteArrayView identity) {
        return identity == QByteArray::fromHex("010203040506") || identity == QByteArray::fromHex("020304050607");
    };
    QCOMPARE(rule::judge(peer, parameterForStage(stage), datagram, card, isListed), verdict);
}

TARVIK_TEST_MAIN(TestDecode)
#include "tst_decode.moc"
