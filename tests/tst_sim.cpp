// The simulated module without sockets: its replies byte for byte, settings and their checks,
// restoring factory values, reset, the misbehaviour it can be told to show, and its command line.
#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/decode.h"
#include "ops/entries.h"
#include "ops/paramfile.h"
#include "ops/replyrule.h"
#include "sim/faults.h"
#include "sim/module.h"
#include "sim/options.h"
#include "sim/wireline.h"
#include "support/testmain.h"

#include <QFile>

using namespace tarvik::sim;

namespace {

const QByteArray kId = QByteArray::fromHex("001A2B3C4D5E");
const QByteArray kOtherId = QByteArray::fromHex("001A2B3C4D5F");
const QByteArray kAll(6, '\xFF');

// Frames as the configuration tool builds them.
QByteArray query(const QByteArray& code, const QByteArray& id = kId)
{
    QByteArray frame = id + "AT" + code + '\r';
    return frame.leftJustified(12, '\0');
}

QByteArray setting(const QByteArray& code, const QByteArray& value, const QByteArray& id = kId)
{
    return id + "AT" + code + '=' + value + '\r';
}

// A module that has been found by a scan, so that it takes commands.
Module foundModule(int index = 0, const QByteArray& id = kId)
{
    Module module(id, index);
    module.handle(QByteArrayLiteral("SETUP"));
    return module;
}

FaultPlan plan(std::initializer_list<std::pair<Rule::Action, const char*>> rules)
{
    FaultPlan result;
    for (const auto& [action, text] : rules) {
        QString error;
        const std::optional<Rule> rule = parseRule(action, QString::fromLatin1(text), &error);
        if (!rule)
            qFatal("bad rule %s: %s", text, qPrintable(error));
        result.rules.append(*rule);
    }
    return result;
}

// The text of a source file from the line after `marker` to the line before the next one that
// starts with `end`.
QString sourceBlock(const char* path, const QString& marker, const QString& end)
{
    QFile file(QStringLiteral(TARVIK_SOURCE_DIR "/") + QLatin1String(path));
    const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    const qsizetype start = text.indexOf(marker) + marker.size();
    return text.indexOf(marker) < 0 ? QStringLiteral("no %1 in %2").arg(marker, QLatin1String(path))
                                    : text.mid(start, text.indexOf(QLatin1Char('\n') + end, start - 1) + 1 - start);
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    // ---- Replies, byte for byte --------------------------------------------------------------

    void discoveryReply()
    {
        Module first(kId, 0);
        Module third(QByteArray::fromHex("0102030A0B0C"), 2);
        QVERIFY(!first.isConfiguring());
        QCOMPARE(first.handle(QByteArrayLiteral("SETUP")), std::optional(kId + "192.168.001.101/V3.1"));
        QVERIFY(first.isConfiguring());
        QCOMPARE(third.handle(QByteArrayLiteral("SETUP")),
                 std::optional(QByteArray::fromHex("0102030A0B0C") + "192.168.001.103/V3.1"));
        // Only the five bytes "SETUP" are a discovery request.
        QCOMPARE(first.handle(QByteArrayLiteral("SETUP\r")), std::nullopt);
        QCOMPARE(first.handle(QByteArrayLiteral("setup")), std::nullopt);
    }

    void queryReplies_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("value");
        // Factory values in the module's fixed-width forms, one of each form (the README's table,
        // checked below, has them all).
        // clang-format off
        const char* rows[][2] = {
            {"ET", "00"}, {"UD", "08"}, {"US", "01"}, {"TM", "00020"}, {"PT1", "05000"}, {"DP4", "00000"},
            {"IP", "192.168.001.101"}, {"DA4", "000.000.000.000"},
        };
        // clang-format on
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QByteArray(row[0]) << QByteArray(row[1]);
    }
    void queryReplies()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, value);
        Module module = foundModule();
        const QByteArray frame = query(code);
        QCOMPARE(frame.size(), 12);
        QCOMPARE(module.handle(frame), std::optional(kId + value));
    }

    // The one place where the tool's parameter table is checked: against the module's own, row by
    // row. The module's reply to the tool's query is the answer awaited and decodes to its value.
    void tablesAgree_data()
    {
        QTest::addColumn<int>("index");
        QCOMPARE(kCommandCount, tarvik::kParameterCount);
        for (int i = 0; i < kCommandCount; ++i)
            QTest::newRow(kCommands[static_cast<size_t>(i)].code) << i;
    }
    void tablesAgree()
    {
        QFETCH(int, index);
        const Command& command = kCommands[static_cast<size_t>(index)];
        const tarvik::Parameter& p = tarvik::kParameters[index];
        QCOMPARE(QByteArray(command.code), QByteArray(p.code) + QByteArray(p.channel ? 1 : 0, p.channel));
        QCOMPARE(command.number, int(p.stage));
        const tarvik::LayoutRow& layout = tarvik::layoutOf(p.layout);
        QCOMPARE(p.isDropDown(), command.kind == Kind::Digit);
        QCOMPARE(layout.runCount() > 1, command.kind == Kind::Address);
        if (p.isDropDown()) {
            QCOMPARE(p.lowestDigit(), command.min);
            QCOMPARE(p.highestDigit(), command.max);
        } else {
            QCOMPARE(tarvik::paramfile::largestNumber(p.layout), command.kind == Kind::Address ? 255 : command.max);
        }

        Module module = foundModule();
        const std::optional<QByteArray> reply = module.handle(tarvik::frames::query(kId, p));
        QVERIFY(reply);
        const tarvik::rule::Peer peer{kId, tarvik::kAnyCard, true};
        QCOMPARE(tarvik::rule::judge(peer, &p, *reply, tarvik::kAnyCard, [](QByteArrayView) { return false; }),
                 tarvik::rule::Verdict::Answer);
        const tarvik::decode::Value value = tarvik::decode::reply(p, *reply);
        const quint32 held = module.value(index);
        if (p.isDropDown())
            QCOMPARE(value.entry, int(held) - command.min);
        else if (command.kind == Kind::Number)
            QCOMPARE(value.text.toUInt(), held);
        else
            QCOMPARE(value.text, QString::fromLatin1(replyText(command.kind, held)));
    }

    // The README's factory values and its example of a parameter file (what the tool reads from a
    // module), and the man page's factory values, are the module's own.
    void documentedFactoryValues()
    {
        QString table = QStringLiteral("| Code | Parameter | Value |\n|---|---|---|\n");
        for (int i = 0; i < kCommandCount; ++i) {
            const Command& command = kCommands[static_cast<size_t>(i)];
            const quint32 value = factoryValues(0)[static_cast<size_t>(i)];
            QString shown = command.kind == Kind::Address ? QStringLiteral("%1.%2.%3.%4")
                                                                .arg(value >> 24)
                                                                .arg(value >> 16 & 0xFF)
                                                                .arg(value >> 8 & 0xFF)
                                                                .arg(value & 0xFF)
                                                          : QString::number(value);
            // A drop-down's entry, where it says more than the digit.
            const QString entry =
                command.kind == Kind::Digit
                    ? QString::fromUtf8(tarvik::entryTexts(tarvik::kParameters[i])[int(value) - command.min])
                    : shown;
            if (entry != shown)
                shown += QLatin1Char(' ') + entry;
            table += QStringLiteral("| %1 | %2 | %3 |\n")
                         .arg(QLatin1String(command.code), QLatin1String(command.meaning), shown);
        }
        QCOMPARE(sourceBlock("README.md", QStringLiteral("<!-- factory values -->\n"), QStringLiteral("<!--")), table);
        QCOMPARE(sourceBlock("packaging/man/tarvik-sim.1.in", QStringLiteral(".SH FACTORY VALUES\n.nf\n"),
                             QStringLiteral(".fi")),
                 factoryTable());

        Module module = foundModule();
        tarvik::paramfile::Values values;
        for (const tarvik::Parameter& p : tarvik::kParameters) {
            const tarvik::decode::Value read = tarvik::decode::reply(p, *module.handle(tarvik::frames::query(kId, p)));
            values[static_cast<size_t>(tarvik::indexOf(p))] = tarvik::frames::FieldValue{read.entry, read.text};
        }
        QCOMPARE(sourceBlock("README.md", QStringLiteral("```json\n"), QStringLiteral("```")),
                 QString::fromUtf8(tarvik::paramfile::write({{kId, values}})));
    }

    // ---- Settings ------------------------------------------------------------------------------

    void settingRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("readBack");
        QTest::newRow("address widened") << QByteArray("IP") << QByteArray("192.168.1.10")
                                         << QByteArray("192.168.001.010");
        QTest::newRow("address as read") << QByteArray("GA") << QByteArray("010.000.000.001")
                                         << QByteArray("010.000.000.001");
        QTest::newRow("all zero mask") << QByteArray("SM") << QByteArray("0.0.0.0") << QByteArray("000.000.000.000");
        QTest::newRow("broadcast dest") << QByteArray("DA3") << QByteArray("255.255.255.255")
                                        << QByteArray("255.255.255.255");
        QTest::newRow("port short") << QByteArray("PT1") << QByteArray("80") << QByteArray("00080");
        QTest::newRow("port as read") << QByteArray("DP2") << QByteArray("08080") << QByteArray("08080");
        QTest::newRow("port highest") << QByteArray("DP4") << QByteArray("65535") << QByteArray("65535");
        QTest::newRow("port zero") << QByteArray("PT4") << QByteArray("0") << QByteArray("00000");
        QTest::newRow("time as read") << QByteArray("TM") << QByteArray("0100") << QByteArray("00100");
        QTest::newRow("bytes highest") << QByteArray("BT") << QByteArray("9999") << QByteArray("09999");
        QTest::newRow("ethernet 5") << QByteArray("ET") << QByteArray("5") << QByteArray("05");
        QTest::newRow("display 0") << QByteArray("EC") << QByteArray("0") << QByteArray("00");
        QTest::newRow("baud 8") << QByteArray("UB") << QByteArray("8") << QByteArray("08");
        QTest::newRow("flow 1") << QByteArray("UT") << QByteArray("1") << QByteArray("01");
        QTest::newRow("data bits 9") << QByteArray("UD") << QByteArray("9") << QByteArray("09");
        QTest::newRow("parity 2") << QByteArray("UP") << QByteArray("2") << QByteArray("02");
        QTest::newRow("stop bits 2") << QByteArray("US") << QByteArray("2") << QByteArray("02");
        QTest::newRow("port mode 4") << QByteArray("SR4") << QByteArray("4") << QByteArray("04");
        QTest::newRow("port mode 0") << QByteArray("SR1") << QByteArray("0") << QByteArray("00");
    }
    void settingRoundTrip()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, readBack);
        Module module = foundModule();
        QCOMPARE(module.handle(setting(code, sent)), std::optional(kId + "OK"));
        QCOMPARE(module.handle(query(code)), std::optional(kId + readBack));
        // Nothing else changed.
        const Values factory = factoryValues(0);
        const int changed = commandIndex(code);
        for (int i = 0; i < kCommandCount; ++i) {
            if (i != changed)
                QCOMPARE(module.value(i), factory[static_cast<size_t>(i)]);
        }
    }

    void invalidSettingRefused_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("sent");
        const char* rows[][2] = {
            // clang-format off
            {"ET", "6"},  {"ET", "/"},   {"ET", ""},     {"ET", "10"},    {"ET", "05"},  {"EC", "2"},
            {"UB", "9"},  {"UT", "2"},   {"UD", "7"},    {"UD", "0"},     {"UP", "3"},   {"US", "0"},
            {"US", "3"},  {"SR1", "5"},  {"SR4", ":"},   {"PT1", "65536"}, {"PT1", ""},  {"PT1", "123456"},
            {"PT1", "8o"}, {"PT1", "-1"}, {"PT1", " 80"}, {"DP3", "99999"}, {"TM", "10000"}, {"BT", "1e3"},
            {"IP", "192.168.1"},     {"IP", "192.168.1.256"}, {"IP", "192.168.1.1.1"}, {"IP", "192.168.1.10 "},
            {"IP", "a.b.c.d"},       {"GA", "1..2.3"},        {"GA", "1234.1.1.1"},    {"GA", ""},
            {"DA2", "192.168.1.-1"}, {"SM", "255.255.255.0."},
        };
        // clang-format on
        for (const auto& row : rows)
            QTest::addRow("%s=%s", row[0], row[1]) << QByteArray(row[0]) << QByteArray(row[1]);
    }
    void invalidSettingRefused()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, sent);
        Module module = foundModule();
        const QByteArray before = module.valueText(code);
        QCOMPARE(module.handle(setting(code, sent)), std::optional(kId + "ER"));
        QCOMPARE(module.valueText(code), before);
        QCOMPARE(module.values(), factoryValues(0));
    }

    void malformedCommands_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("reply"); // empty: no reply at all
        QTest::newRow("setting without CR") << kId + "ATIP=1.2.3.4" << kId + "ER";
        QTest::newRow("setting with CR inside") << kId + "ATPT1=80\r\r" << kId + "ER";
        QTest::newRow("query too short") << kId + "ATET\r" << kId + "ER";
        QTest::newRow("query padded with other bytes") << kId + "ATET\rX" << kId + "ER";
        QTest::newRow("query of 13 bytes") << kId + QByteArray("ATET\r\0\0", 7) << kId + "ER";
        QTest::newRow("unknown code") << query("XX") << kId + "ER";
        QTest::newRow("channel 5") << query("SR5") << kId + "ER";
        QTest::newRow("channel digit missing") << query("SR") << kId + "ER";
        QTest::newRow("lower-case code") << query("et") << kId + "ER";
        QTest::newRow("defaults with padding") << kId + QByteArray("ATDF\r\0", 6) << kId + "ER";
        QTest::newRow("another module's query") << query("ET", kOtherId) << QByteArray();
        QTest::newRow("every module's query") << query("ET", kAll) << QByteArray();
        QTest::newRow("identity only") << kId << QByteArray();
        QTest::newRow("not a command") << kId + "HELLO" << QByteArray();
        QTest::newRow("short datagram") << QByteArray("SET") << QByteArray();
        QTest::newRow("empty datagram") << QByteArray() << QByteArray();
    }
    void malformedCommands()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, reply);
        Module module = foundModule();
        const std::optional<QByteArray> answer = module.handle(frame);
        QCOMPARE(answer.value_or(QByteArray()), reply);
        QCOMPARE(module.values(), factoryValues(0));
        QVERIFY(module.isConfiguring());
    }

    void commandsIgnoredBeforeDiscovery()
    {
        Module module(kId, 0);
        QCOMPARE(module.handle(query("ET")), std::nullopt);
        QCOMPARE(module.handle(setting("ET", "3")), std::nullopt);
        QCOMPARE(module.handle(kId + "ATDF\r"), std::nullopt);
        QCOMPARE(module.values(), factoryValues(0));
    }

    // ---- Restore defaults and reset --------------------------------------------------------------

    void restoreDefaults()
    {
        Module module = foundModule(1, kOtherId);
        QCOMPARE(module.handle(setting("IP", "10.1.2.3", kOtherId)), std::optional(kOtherId + "OK"));
        QCOMPARE(module.handle(setting("UB", "7", kOtherId)), std::optional(kOtherId + "OK"));
        QCOMPARE(module.handle(setting("DP4", "8080", kOtherId)), std::optional(kOtherId + "OK"));
        QVERIFY(module.values() != factoryValues(1));

        QCOMPARE(module.handle(kOtherId + "ATDF\r"), std::optional(kOtherId + "OK"));
        QCOMPARE(module.values(), factoryValues(1));
        QCOMPARE(module.handle(query("IP", kOtherId)), std::optional(kOtherId + "192.168.001.102"));
        QCOMPARE(module.handle(query("UB", kOtherId)), std::optional(kOtherId + "03"));
        QVERIFY(module.isConfiguring());
    }

    void resetLeavesConfiguration()
    {
        Module module = foundModule();
        QCOMPARE(module.handle(setting("PT2", "7000")), std::optional(kId + "OK"));
        // "END" is nine bytes: the identity and the three letters, no "AT", no CR; no answer.
        QCOMPARE(module.handle(kId + "END\r"), std::nullopt); // not the reset command
        QVERIFY(module.isConfiguring());
        QCOMPARE(module.handle(kOtherId + "END"), std::nullopt);
        QVERIFY(module.isConfiguring());
        QCOMPARE(module.handle(kId + "END"), std::nullopt);
        QVERIFY(!module.isConfiguring());

        // Running: only "SETUP" is answered.
        QCOMPARE(module.handle(query("PT2")), std::nullopt);
        QCOMPARE(module.handle(setting("PT2", "1")), std::nullopt);
        QCOMPARE(module.handle(kId + "ATDF\r"), std::nullopt);
        QCOMPARE(module.handle(QByteArrayLiteral("SETUP")), std::optional(kId + "192.168.001.101/V3.1"));
        // Found again, with what it stored before the reset.
        QCOMPARE(module.handle(query("PT2")), std::optional(kId + "07000"));
    }

    void shutdownNoticeResetsEveryModule()
    {
        Module first = foundModule(0, kId);
        Module second = foundModule(1, kOtherId);
        const QByteArray notice = kAll + "END";
        QCOMPARE(notice.size(), 9);
        QCOMPARE(first.handle(notice), std::nullopt);
        QCOMPARE(second.handle(notice), std::nullopt);
        QVERIFY(!first.isConfiguring());
        QVERIFY(!second.isConfiguring());
        // Six 0xFF address every module only for "END".
        Module third = foundModule();
        QCOMPARE(third.handle(kAll + "ATDF\r"), std::nullopt);
        QCOMPARE(third.handle(kAll + "ENDX"), std::nullopt);
        QVERIFY(third.isConfiguring());
    }

    // ---- Identities and values -----------------------------------------------------------------

    void identities()
    {
        QCOMPARE(identityPlus(kId, 0), kId);
        QCOMPARE(identityPlus(kId, 1), kOtherId);
        QCOMPARE(identityPlus(QByteArray::fromHex("0000000000FF"), 1), QByteArray::fromHex("000000000100"));
        QCOMPARE(identityPlus(QByteArray::fromHex("FFFFFFFFFFFF"), 1), QByteArray::fromHex("000000000000"));
        QCOMPARE(identityFromHex(QStringLiteral("00:1a:2b:3c:4d:5e")), std::optional(kId));
        QCOMPARE(identityFromHex(QStringLiteral("001A2B3C4D5")), std::nullopt);
        QCOMPARE(identityFromHex(QStringLiteral("001A2B3C4D5G")), std::nullopt);
        QCOMPARE(identityHex(QByteArray::fromHex("0102030A0B0C")), QStringLiteral("0102030A0B0C"));
    }

    void replyTexts()
    {
        QCOMPARE(replyText(Kind::Digit, 7), QByteArray("07"));
        QCOMPARE(replyText(Kind::Number, 80), QByteArray("00080"));
        QCOMPARE(replyText(Kind::Number, 65535), QByteArray("65535"));
        QCOMPARE(replyText(Kind::Address, 0xC0A8010A), QByteArray("192.168.001.010"));
        QCOMPARE(replyText(Kind::Address, 0), QByteArray("000.000.000.000"));
    }

    // ---- Faults ----------------------------------------------------------------------------------

    void dropByKeyAndOccurrence()
    {
        const FaultPlan faults = plan({{Rule::Drop, "PT1?#2"}});
        FaultyModule module(Module(kId), &faults);
        QVERIFY(module.receive("SETUP").reply);
        const Handled first = module.receive(query("PT1"));
        QVERIFY(first.reply);
        QCOMPARE(first.reply->bytes, kId + "05000");
        QVERIFY(module.receive(setting("PT1", "81")).reply); // a setting is not a query
        const Handled second = module.receive(query("PT1"));
        QVERIFY(second.taken);
        QVERIFY(second.dropped);
        QVERIFY(!second.reply);
        QVERIFY(module.receive(query("PT1")).reply); // only the second
        QCOMPARE(module.taken(), 5);
    }

    void dropByNumber()
    {
        const FaultPlan faults = plan({{Rule::Drop, "3"}});
        FaultyModule module(Module(kId), &faults);
        QVERIFY(module.receive("SETUP").reply);                // 1
        QVERIFY(!module.receive(query("ET", kOtherId)).taken); // not ours: not counted
        QVERIFY(module.receive(query("ET")).reply);            // 2
        const Handled third = module.receive(query("GA"));     // 3
        QVERIFY(third.dropped);
        QVERIFY(module.receive(query("GA")).reply); // 4
    }

    void dropEveryCommandStillFound()
    {
        const FaultPlan faults = plan({{Rule::Drop, "*"}});
        FaultyModule module(Module(kId), &faults);
        QVERIFY(module.receive("SETUP").reply);
        for (const QByteArray& frame : {query("ET"), setting("ET", "1"), kId + "ATDF\r"})
            QVERIFY(module.receive(frame).dropped);
        // The lost acknowledgement does not undo the setting.
        QCOMPARE(module.module().valueText("ET"), QByteArray("00"));
        QVERIFY(module.receive("SETUP").reply);
    }

    void silentAnswersNothing()
    {
        FaultPlan faults;
        faults.silent = true;
        FaultyModule module(Module(kId), &faults);
        const Handled found = module.receive("SETUP");
        QVERIFY(found.taken);
        QVERIFY(!found.reply);
        QVERIFY(!module.receive(query("ET")).reply);
    }

    // Random loss: about the share asked for, the same replies for the same seed, and only replies
    // are lost (a lost acknowledgement still stores its setting).
    void randomLoss()
    {
        FaultPlan faults;
        faults.lossPerMillion = 100000; // 10 %
        faults.lossSeed = 3;
        const auto losses = [&] {
            FaultyModule module(Module(kId), &faults);
            module.receive("SETUP");
            QList<int> lost;
            for (int i = 0; i < 2000; ++i) {
                if (module.receive(query("ET")).dropped)
                    lost << i;
            }
            return lost;
        };
        const QList<int> lost = losses();
        QVERIFY2(lost.size() > 140 && lost.size() < 260, qPrintable(QString::number(lost.size())));
        QCOMPARE(losses(), lost);
        faults.lossSeed = 4;
        QVERIFY(losses() != lost);
    }

    void refuse()
    {
        const FaultPlan faults = plan({{Rule::Refuse, "BT="}, {Rule::Refuse, "DF"}});
        FaultyModule module(Module(kId), &faults);
        module.receive("SETUP");
        QCOMPARE(module.receive(setting("TM", "30")).reply->bytes, kId + "OK");
        QCOMPARE(module.receive(setting("BT", "100")).reply->bytes, kId + "ER");
        QCOMPARE(module.module().valueText("BT"), QByteArray("00512"));
        QCOMPARE(module.receive(query("BT")).reply->bytes, kId + "00512");
        QCOMPARE(module.receive(kId + "ATDF\r").reply->bytes, kId + "ER");
        QCOMPARE(module.module().valueText("TM"), QByteArray("00030"));
    }

    void answerOverride()
    {
        const FaultPlan faults = plan({{Rule::Answer, "ET=06"}, {Rule::Answer, "PT1#2=0/\\x3A80"}});
        FaultyModule module(Module(kId), &faults);
        module.receive("SETUP");
        QCOMPARE(module.receive(query("ET")).reply->bytes, kId + "06");
        QCOMPARE(module.receive(setting("ET", "2")).reply->bytes, kId + "OK"); // settings are not touched
        QCOMPARE(module.receive(query("PT1")).reply->bytes, kId + "05000");
        QCOMPARE(module.receive(query("PT1")).reply->bytes, kId + "0/:80");
        QCOMPARE(module.receive(query("PT1")).reply->bytes, kId + "05000");
    }

    void truncateDelayDuplicate()
    {
        const FaultPlan faults = plan({{Rule::Truncate, "7:UP?"}, {Rule::Delay, "250:SETUP"}, {Rule::Duplicate, "US"}});
        FaultyModule module(Module(kId), &faults);
        const Handled found = module.receive("SETUP");
        QCOMPARE(found.reply->delayMs, 250);
        QCOMPARE(found.reply->copies, 1);
        const Handled parity = module.receive(query("UP"));
        QCOMPARE(parity.reply->bytes, kId + "0");
        QCOMPARE(parity.reply->delayMs, 0);
        const Handled stop = module.receive(query("US"));
        QCOMPARE(stop.reply->bytes, kId + "01");
        QCOMPARE(stop.reply->copies, 2);
        QCOMPARE(module.receive(query("ET")).reply->copies, 1);
    }

    void ruleTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("all") << QStringLiteral("all") << true;
        QTest::newRow("number") << QStringLiteral("12") << true;
        QTest::newRow("zero") << QStringLiteral("0") << false;
        QTest::newRow("code") << QStringLiteral("pt1") << true;
        QTest::newRow("query") << QStringLiteral("DA4?") << true;
        QTest::newRow("setting") << QStringLiteral("DA4=#3") << true;
        QTest::newRow("wildcards") << QStringLiteral("*=") << true;
        QTest::newRow("keywords") << QStringLiteral("DF#1") << true;
        QTest::newRow("unknown code") << QStringLiteral("XX") << false;
        QTest::newRow("channel 5") << QStringLiteral("SR5") << false;
        QTest::newRow("occurrence 0") << QStringLiteral("ET#0") << false;
        QTest::newRow("occurrence text") << QStringLiteral("ET#x") << false;
    }
    void ruleTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QString error;
        QCOMPARE(Match::parse(text, &error).has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
    }

    // ---- Command line and output -----------------------------------------------------------------

    void commandLine()
    {
        const auto parse = [](QStringList arguments) {
            arguments.prepend(QStringLiteral("tarvik-sim"));
            return parseOptions(arguments);
        };
        ParsedOptions three = parse({QStringLiteral("--count"), QStringLiteral("3")});
        QCOMPARE(three.outcome, ParsedOptions::Run);
        QCOMPARE(three.options.moduleIdentities(),
                 (QList<QByteArray>{kId, kOtherId, QByteArray::fromHex("001A2B3C4D60")}));

        ParsedOptions given = parse({QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--id"),
                                     QStringLiteral("001A2B3C4D5F"), QStringLiteral("--drop"), QStringLiteral("PT1?#1"),
                                     QStringLiteral("--delay"), QStringLiteral("500"), QStringLiteral("--silent")});
        QCOMPARE(given.outcome, ParsedOptions::Run);
        // The given identity first; the derived one skips it.
        QCOMPARE(given.options.moduleIdentities(), (QList<QByteArray>{kOtherId, kId}));
        QCOMPARE(given.options.faults.rules.size(), 2);
        QCOMPARE(given.options.faults.rules[0].action, Rule::Drop);
        QCOMPARE(given.options.faults.rules[1].amount, 500);
        QCOMPARE(given.options.faults.rules[1].match.kind, Match::All);
        QVERIFY(given.options.faults.silent);
        const ParsedOptions lossy = parse({QStringLiteral("--loss"), QStringLiteral("2.5:7")});
        QCOMPARE(lossy.options.faults.lossPerMillion, 25000);
        QCOMPARE(lossy.options.faults.lossSeed, 7u);

        QCOMPARE(
            parse({QStringLiteral("--id"), QStringLiteral("01"), QStringLiteral("--id"), QStringLiteral("02")}).outcome,
            ParsedOptions::Error);
        QCOMPARE(parse({QStringLiteral("--help")}).outcome, ParsedOptions::Help);
        for (const QStringList& bad :
             {QStringList{QStringLiteral("--count"), QStringLiteral("0")},
              QStringList{QStringLiteral("--count"), QStringLiteral("255")},
              QStringList{QStringLiteral("--id"), QStringLiteral("zz")},
              QStringList{QStringLiteral("--drop"), QStringLiteral("QQ")},
              QStringList{QStringLiteral("--answer"), QStringLiteral("SETUP=1")},
              QStringList{QStringLiteral("--reply-to"), QStringLiteral("host")},
              QStringList{QStringLiteral("--port"), QStringLiteral("70000")},
              QStringList{QStringLiteral("--loss"), QStringLiteral("101")},
              QStringList{QStringLiteral("--loss"), QStringLiteral("2:x")}, QStringList{QStringLiteral("--nonsense")},
              QStringList{QStringLiteral("stray")}}) {
            const ParsedOptions parsed = parse(bad);
            QVERIFY2(parsed.outcome == ParsedOptions::Error, qPrintable(bad.join(QLatin1Char(' '))));
            QVERIFY(!parsed.error.isEmpty());
        }
    }

    void helpListsFactoryValues()
    {
        const QString help = helpText();
        QVERIFY(help.contains(QStringLiteral("--drop")));
        QVERIFY(help.contains(QStringLiteral("PT1  channel 1 local port")));
        QCOMPARE(factoryTable().count(QLatin1Char('\n')), kCommandCount);
    }

    void wireLines()
    {
        QCOMPARE(wireLine(QTime(12, 0, 1, 23), QStringLiteral("RX"), QStringLiteral("127.0.0.1:65002"),
                          QByteArray("\x00\x1A"
                                     "AT\r",
                                     5)),
                 QStringLiteral("12:00:01.023 RX 127.0.0.1:65002 (5 B) 00 1A 41 54 0D |..AT.|"));
    }
};

TARVIK_TEST_MAIN(TestSim)
#include "tst_sim.moc"
