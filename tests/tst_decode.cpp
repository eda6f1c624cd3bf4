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

// The parameter of a field's name; none (an acknowledgement) for an empty name.
const Parameter* named(const QString& field)
{
    return field.isEmpty() ? nullptr : paramfile::parameterNamed(field);
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
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("text");
    const auto entry = [](const char* name, const char* field, const QByteArray& datagram, int position) {
        QTest::newRow(name) << QString::fromLatin1(field) << datagram << kEntry << position << QString();
    };
    const auto text = [](const char* name, const char* field, const QByteArray& datagram, const char* value) {
        QTest::newRow(name) << QString::fromLatin1(field) << datagram << kText << -1 << QString::fromLatin1(value);
    };
    const auto rejected = [](const char* name, const char* field, const QByteArray& datagram) {
        // With its value bytes: two rejected replies are alike only when these are.
        QTest::newRow(name) << QString::fromLatin1(field) << datagram << kRejected << -1
                            << QString::fromLatin1(datagram.mid(frames::kIdentitySize, 2));
    };
    const auto tooShort = [](const char* name, const char* field, const QByteArray& datagram) {
        QTest::newRow(name) << QString::fromLatin1(field) << datagram << kShort << -1 << QString();
    };
    // Every drop-down takes the digits of its positions, from its base on, and no other.
    for (const Parameter& p : kParameters) {
        if (!p.isDropDown())
            continue;
        const auto digit = [&](int value) { return reply(QByteArray("0") + char('0' + value)); };
        entry(qPrintable(QStringLiteral("%1 lowest").arg(p.name)), p.name, digit(p.lowestDigit()), 0);
        entry(qPrintable(QStringLiteral("%1 highest").arg(p.name)), p.name, digit(p.highestDigit()),
              p.entries.count - 1);
        rejected(qPrintable(QStringLiteral("%1 below").arg(p.name)), p.name, digit(p.lowestDigit() - 1));
        rejected(qPrintable(QStringLiteral("%1 above").arg(p.name)), p.name, digit(p.highestDigit() + 1));
    }
    // One digit in byte 7; byte 6 is not read, except for parity and stop bits, where it must be "0".
    entry("ET 5, byte 6 anything", "Ethernet_Mode", reply("x5"), 5);
    rejected("ET 0xFF", "Ethernet_Mode", reply("0\xff"));
    entry("UD 9", "UART_Bits", reply("09"), 1);
    rejected("UD :", "UART_Bits", reply("0:"));
    entry("UP 0 2", "UART_Parity", reply("02"), 2);
    rejected("UP 1 2", "UART_Parity", reply("12"));
    rejected("US 1 2", "UART_Stopbit", reply("12"));
    // Numbers keep their leading zeros; byte 6 is not part of a 4-digit number.
    text("TM, byte 6 ignored", "UART_TimeDeli", reply("x0100"), "0100");
    text("BT", "UART_ByteDeli", reply("09999"), "9999");
    text("PT1 00080", "Ch1_Port_Number", reply("00080"), "00080");
    text("DP1 05000", "Ch1_D_Port", reply("05000"), "05000");
    // A byte that is not a digit gives the decimal text of its value minus 48.
    text("PT4 non-digits", "Ch4_Port_Number", reply(QByteArray::fromHex("2f303a00ff")), "-1010-48207");
    text("DP4 bytes after 10 ignored", "Ch4_D_Port", reply("12345678"), "12345");
    // Addresses: four groups of three, bytes 9, 13 and 17 not read.
    text("GA", "G_IP", reply("192.168.001.010"), "192.168.001.010");
    text("IP separators anything", "S_IP", reply("010x000y001z002"), "010.000.001.002");
    text("SM", "MASK", reply("255.255.255.000"), "255.255.255.000");
    text("DA1 non-digit", "Ch1_D_IP", reply("19:.168.001.00/"), "1910.168.001.00-1");
    text("DA4", "Ch4_D_IP", reply("000.000.000.000"), "000.000.000.000");
    // Replies too short for the layout of their stage hold no value, for drop-downs and text
    // fields alike, and are never read past their end.
    tooShort("ET 7 bytes", "Ethernet_Mode", reply("0"));
    entry("ET 8 bytes", "Ethernet_Mode", reply("03"), 3);
    tooShort("US identity only", "UART_Stopbit", reply(""));
    tooShort("UP 7 bytes, out of range", "UART_Parity", reply("9"));
    tooShort("empty datagram", "UART_Parity", QByteArray());
    tooShort("TM 10 bytes", "UART_TimeDeli", reply("0010"));
    text("TM 11 bytes", "UART_TimeDeli", reply("00010"), "0010");
    tooShort("PT2 10 bytes", "Ch2_Port_Number", reply("0008"));
    text("PT2 11 bytes", "Ch2_Port_Number", reply("00080"), "00080");
    tooShort("GA 20 bytes", "G_IP", reply("192.168.001.01"));
    text("GA 21 bytes", "G_IP", reply("192.168.001.010"), "192.168.001.010");
    // Whole but out of range: still rejected.
    rejected("SR3 8 bytes, 7", "Ch3_SOCK_Mode", reply("07"));
}

void TestDecode::value()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);
    QFETCH(int, entry);
    QFETCH(QString, text);
    const Parameter* parameter = named(field);
    QVERIFY(parameter);
    const decode::Value value = decode::reply(*parameter, datagram);
    QCOMPARE(static_cast<int>(value.kind), kind);
    if (kind == kEntry)
        QCOMPARE(value.entry, entry);
    if (kind == kText || kind == kRejected)
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
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("card");
    QTest::addColumn<bool>("carriesIdentity");
    QTest::addColumn<Verdict>("verdict");
    const QByteArray own = QByteArray::fromHex("010203040506");
    const QByteArray listed = QByteArray::fromHex("020304050607");
    const QByteArray stranger = QByteArray::fromHex("aabbccddeeff");
    const auto row = [](const char* name, const char* field, const QByteArray& datagram, Verdict verdict, int card = 2,
                        bool carries = true) {
        QTest::newRow(name) << QString::fromLatin1(field) << datagram << card << carries << verdict;
    };
    row("a digit reply", "Ethernet_Mode", own + "05", Verdict::Answer);
    row("from a card not known", "Ethernet_Mode", own + "05", Verdict::Answer, 0);
    row("on another card", "Ethernet_Mode", own + "05", Verdict::OtherCard, 3);
    row("another listed module's", "Ethernet_Mode", listed + "05", Verdict::OtherModule, 2, false);
    row("a stranger's", "Ethernet_Mode", stranger + "05", Verdict::Stranger);
    row("a stranger's, the module never seen with its identity", "Ethernet_Mode", stranger + "05",
        Verdict::Unidentified, 2, false);
    row("a late OK where a one-digit value is awaited", "Disp_Mode", own + "OK", Verdict::NotDigits);
    row("a parity whose first byte is not a digit", "UART_Parity", own + "x2", Verdict::NotDigits);
    row("a 4-digit number whose first value byte is not a digit", "UART_TimeDeli", own + "0x100", Verdict::NotDigits);
    row("five bytes", "Ethernet_Mode", own.left(5), Verdict::WrongLength);
    row("a digit reply one byte short", "Ethernet_Mode", own + "0", Verdict::WrongLength);
    row("a digit reply as long as a number's", "Ethernet_Mode", own + "00005", Verdict::WrongLength);
    row("a port", "Ch1_Port_Number", own + "05000", Verdict::Answer);
    row("a port of 20 bytes", "Ch1_Port_Number", own + "05000" + QByteArray(9, '\r'), Verdict::Answer);
    row("a port as long as an address", "Ch1_Port_Number", own + "05000" + QByteArray(10, '\r'), Verdict::WrongLength);
    row("a port with a letter", "Ch1_Port_Number", own + "05a00", Verdict::NotDigits);
    row("time splitting, byte 6 not read", "UART_TimeDeli", own + "x0100", Verdict::Answer);
    row("an address, separators not read", "Ch1_D_IP", own + "010x000x001x002", Verdict::Answer);
    row("an address with a slash", "Ch1_D_IP", own + "010.0/0.001.002", Verdict::NotDigits);
    row("an acknowledgement", "", own + "OK", Verdict::Answer);
    row("a long refusal", "", own + "ER\r\n0000000000000000", Verdict::Answer);
    row("an acknowledgement of 7 bytes", "", own + "O", Verdict::WrongLength);
}

void TestDecode::replyRule()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, datagram);
    QFETCH(int, card);
    QFETCH(bool, carriesIdentity);
    QFETCH(rule::Verdict, verdict);
    const QByteArray own = QByteArray::fromHex("010203040506");
    const rule::Peer peer{own, 2, carriesIdentity};
    const auto isListed = [](QByteArrayView identity) {
        return identity == QByteArray::fromHex("010203040506") || identity == QByteArray::fromHex("020304050607");
    };
    QCOMPARE(rule::judge(peer, named(field), datagram, card, isListed), verdict);
}

TARVIK_TEST_MAIN(TestDecode)
#include "tst_decode.moc"
