// tarvik-cli end to end: the program against tarvik-sim processes in the test's private network
// namespace, with a listener on the modules' port that sees every frame it sends.
#include "link/frames.h"
#include "ops/paramfile.h"
#include "support/clisoak.h"
#include "support/hostilefiles.h"
#include "support/simbed.h"
#include "support/testmain.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace tarvik;
using namespace tarvik::test;

namespace {

struct Run
{
    int status = -1;
    QByteArray out;
    QString err;
};

Run runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(TARVIK_CLI_PATH), arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QByteArray kFirst = QByteArray::fromHex("001a2b3c4d5e");
const QByteArray kSecond = QByteArray::fromHex("001a2b3c4d5f");
const QString kFirstId = QStringLiteral("001A2B3C4D5E");

// Frames the program sent, without the listener's own sync markers.
QList<QByteArray> sentFrames(WireTap& tap)
{
    tap.sync();
    QList<QByteArray> frames;
    for (const QByteArray& bytes : tap.payloads()) {
        if (!bytes.startsWith("tap-sync-"))
            frames << bytes;
    }
    return frames;
}

// Frames that change a module: settings, restoring defaults, reset.
int changesSent(const QList<QByteArray>& frames)
{
    int changes = 0;
    for (const QByteArray& frame : frames) {
        const QByteArray command = frame.mid(frames::kIdentitySize);
        changes += (command.startsWith("AT") && (command.contains('=') || command.startsWith("ATDF"))) ||
                           command.startsWith("END")
                       ? 1
                       : 0;
    }
    return changes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every parameter away from its factory value, as a file for the first module names it.
// The S_IP that allChanged() sets, as the address check names it (without leading zeros).
QString changedAddress()
{
    for (const FieldValue& field : otherFields()) {
        if (field.field != fieldNamed("S_IP"))
            continue;
        QStringList numbers;
        for (const QString& group : field.value.split(QLatin1Char('.')))
            numbers << QString::number(group.toInt());
        return numbers.join(QLatin1Char('.'));
    }
    return {};
}

QByteArray allChanged()
{
    paramfile::Values values;
    for (const FieldValue& field : otherFields()) {
        const bool dropDown = parameterOf(field.field).isDropDown();
        values[static_cast<size_t>(field.field)] = frames::FieldValue{dropDown ? field.value.toInt() : -1, field.value};
    }
    return paramfile::write({{paramfile::identityFromText(kFirstId), values}});
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void concurrentReadsRepeatOnlyTheLostExchange();
    void silentModuleFailsAlone();
    void roundTrip();
    void badFileSendsNothing_data();
    void badFileSendsNothing();
    void dryRunPrintsTheFrames();
    void refusedInOneLine_data();
    void refusedInOneLine();
    void exitStatus_data();
    void exitStatus();
    void readsUnderLossNeverSucceedWrong();
    void plantAuditedAndChangesUndone();
    void sharedOptions_data();
    void sharedOptions();

private:
    std::unique_ptr<WireTap> m_tap;
    std::list<std::unique_ptr<SimProcess>> m_sims;
    QTemporaryDir m_dir;

    SimProcess* sim(const QStringList& arguments)
    {
        m_sims.push_back(std::make_unique<SimProcess>(arguments));
        return m_sims.back()->start() ? m_sims.back().get() : nullptr;
    }
};

void TestCli::init()
{
    // Every change's journal in a directory of the test's own, empty at each test.
    QDir(m_dir.filePath("journal")).removeRecursively();
    qputenv("TARVIK_JOURNAL", m_dir.filePath("journal").toLocal8Bit());
    m_tap = std::make_unique<WireTap>();
    QVERIFY(m_tap->open(kModulePort));
}

void TestCli::cleanup()
{
    m_sims.clear();
    m_tap.reset();
}

// Three modules read at once; each loses its first reply to the PT1 query: that query alone is
// sent again, a second pass confirms the values, and every value comes out right.
void TestCli::concurrentReadsRepeatOnlyTheLostExchange()
{
    QVERIFY(sim({"--count", "3", "--quiet", "--drop", "PT1?#1"}));
    const Run run = runCli({"read", "001A2B3C4D5E", "001A2B3C4D5F", "001A2B3C4D60", "--json"});
    QCOMPARE(run.status, 0);
    const QJsonArray modules = QJsonDocument::fromJson(run.out).object().value("modules").toArray();
    QCOMPARE(modules.size(), 3);
    const QList<QByteArray> sent = sentFrames(*m_tap);
    for (int n = 0; n < 3; ++n) {
        const QJsonObject module = modules[n].toObject();
        QVERIFY(module.value("ok").toBool());
        QCOMPARE(module.value("retries").toInt(), 1 + kParameterCount);
        const QJsonObject values = module.value("parameters").toObject();
        const QList<FieldValue> factory = factoryFields(n);
        QCOMPARE(values.value("S_IP").toString(), QStringLiteral("192.168.001.%1").arg(101 + n));
        QCOMPARE(values.value("Ch1_Port_Number").toString(), QStringLiteral("05000"));
        QCOMPARE(values.value("Ch1_D_IP").toString(), QStringLiteral("192.168.001.200"));
        QCOMPARE(values.value("UART_Stopbit").toString(), QStringLiteral("1"));
        const QByteArray id = kFirst.left(5) + char(0x5e + n);
        for (const Parameter& p : kParameters) {
            const bool lost = QByteArray(p.code) == "PT" && p.channel == '1';
            QCOMPARE(sent.count(frames::query(id, p)), lost ? 3 : 2);
        }
    }
}

// A module that takes SETUP but answers no command fails alone; the others are read.
void TestCli::silentModuleFailsAlone()
{
    QVERIFY(sim({"--count", "2", "--quiet"}));
    QVERIFY(sim({"--first-id", "00AA00000001", "--drop", "*", "--quiet"}));
    const Run run = runCli({"read", "001A2B3C4D5E", "00AA00000001", "001A2B3C4D5F", "--json"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("tarvik-cli: 00AA00000001: no reply to the query of Ethernet_Mode (ET) after 3 "
                                     "attempts\n"));
    const QJsonArray modules = QJsonDocument::fromJson(run.out).object().value("modules").toArray();
    QCOMPARE(modules.size(), 3);
    QVERIFY(modules[0].toObject().value("ok").toBool());
    QVERIFY(!modules[1].toObject().value("ok").toBool());
    QVERIFY(modules[2].toObject().value("ok").toBool());
}

// write, read --out, defaults, write --from that file, read again: the same file.
void TestCli::roundTrip()
{
    QVERIFY(sim({"--quiet", "--count", "3"}));
    const QString changed = m_dir.filePath("changed.json");
    const QString first = m_dir.filePath("first.json");
    const QString second = m_dir.filePath("second.json");
    QVERIFY(writeFile(changed, allChanged()));
    QCOMPARE(runCli({"write", kFirstId, "--from", changed}).status, 0);
    QCOMPARE(runCli({"read", kFirstId, "--out", first}).status, 0);
    QCOMPARE(runCli({"defaults", kFirstId}).status, 0);
    QCOMPARE(runCli({"write", kFirstId, "--from", first}).status, 0);
    QCOMPARE(runCli({"read", kFirstId, "--out", second}).status, 0);
    // One module's file, cloned to others (each written and read back).
    const Run clone =
        runCli({"write", "001A2B3C4D5F", "001A2B3C4D60", "--from", first, "--set", "S_IP=10.1.2.20+", "--json"});
    QCOMPARE(clone.status, 0);
    for (const QJsonValue module : QJsonDocument::fromJson(clone.out).object().value("modules").toArray())
        QVERIFY(module.toObject().value("verified").toBool());

    QFile a(first), b(second);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    QCOMPARE(bytes, b.readAll());
    // The same through a spreadsheet's file: read --out FILE.csv, defaults, write --from it.
    const QString sheet = m_dir.filePath("first.csv");
    QCOMPARE(runCli({"read", kFirstId, "--out", sheet}).status, 0);
    QCOMPARE(runCli({"defaults", kFirstId}).status, 0);
    QCOMPARE(runCli({"write", kFirstId, "--from", sheet}).status, 0);
    QCOMPARE(runCli({"read", kFirstId, "--out", second}).status, 0);
    b.close();
    QVERIFY(b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), bytes);
    const paramfile::Result read = paramfile::parse(bytes);
    const paramfile::Result written = paramfile::parse(allChanged());
    QVERIFY(read.ok());
    for (const Parameter& p : kParameters) {
        const auto& got = read.modules[0].values[static_cast<size_t>(indexOf(p))];
        const auto& want = written.modules[0].values[static_cast<size_t>(indexOf(p))];
        QVERIFY2(got.has_value() && want.has_value(), p.name);
        if (p.isDropDown())
            QCOMPARE(got->index, want->index);
        else // written as the window shows a read, read back the same
            QCOMPARE(got->text, want->text);
    }
}

void TestCli::badFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::addColumn<qint64>("size"); // a sparse file of this size in place of `content`
    QTest::addColumn<QString>("name");
    const auto row = [](const char* name, const QByteArray& content, const QString& message) {
        QTest::newRow(name) << content << message << qint64(0) << "bad.json";
    };
    row("bad JSON", "{\n  \"S_IP\": \"1.2.3.4\",\n}", "line 3, column 2 (offset 24)");
    row("unknown key", "{\n\"S_IP\": \"1.2.3.4\",\n\"Baud\": 3}", "line 3: key \"Baud\": unknown");
    row("entry", "{\"UART_BaudRate\": \"9601bps\"}", "key \"UART_BaudRate\": \"9601bps\" is not");
    row("position", "{\"UART_Bits\": 2}", "key \"UART_Bits\": position out of range (0-1)");
    row("three numbers", "{\"G_IP\": \"1.2.3\"}", "key \"G_IP\": \"1.2.3\" is not an address");
    row("256", "{\"MASK\": \"255.255.256.0\"}", "key \"MASK\": \"255.255.256.0\" is not");
    row("port", "{\"Ch2_D_Port\": \"65536\"}", "key \"Ch2_D_Port\": \"65536\" is not a number 0-65535");
    row("port as number", "{\"Ch2_D_Port\": 80}", "key \"Ch2_D_Port\": wrong type");
    row("top array", "[{}]", "wrong type: the file holds one JSON object");
    row("nested", "{\"S_IP\": {\"a\": \"1.2.3.4\"}}", "key \"S_IP\": wrong type");
    row("just larger", QByteArray(paramfile::kMaxFileSize + 1, ' '), "larger than");
    row("other modules", "{\"00AA00000001\": {\"S_IP\": \"1.2.3.4\"}, \"00AA00000002\": {\"S_IP\": \"1.2.3.5\"}}",
        "no parameters for 001A2B3C4D5E");
    row("module not object", "{\"001A2B3C4D5E\": 3}", "key \"001A2B3C4D5E\": wrong type");
    row("no parameter", "{}", "names no parameter");
    // The hostile files the window's import is tried with too (tst_mainform).
    for (const HostileFile& file : hostileFiles())
        QTest::newRow(file.name) << file.content << file.message << file.size << "bad.json";
    // A spreadsheet's CSV, told apart by its name.
    for (const HostileFile& file : hostileCsvFiles())
        QTest::newRow(file.name) << file.content << file.message << file.size << "bad.CSV";
}

// The file is refused with a message that points into it, and nothing goes on the wire.
void TestCli::badFileSendsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(qint64, size);
    QFETCH(QString, name);
    QVERIFY(sim({"--quiet"}));
    const QString path = m_dir.filePath(name);
    QVERIFY(writeHostileFile(path, {"", content, message, size}));
    const Run run = runCli({"write", kFirstId, "001A2B3C4D5F", "--from", path});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith("tarvik-cli: " + path + ": ") && run.err.contains(message), qPrintable(run.err));
    QCOMPARE(sentFrames(*m_tap).size(), 0);
}

// A dry run prints the frames a write would send and sends none: named modules are not looked for,
// and with --all nothing but the scan goes out.
void TestCli::dryRunPrintsTheFrames()
{
    QVERIFY(sim({"--count", "2", "--quiet"}));
    const QString path = m_dir.filePath("some.json");
    QVERIFY(writeFile(path, R"({"UART_BaudRate": 7, "Ch1_D_IP": "10.0.0.1", "Ethernet_Mode": "自动握手"})"));
    for (const QString& which : {QString(kFirstId), QStringLiteral("--all")}) {
        const Run run = runCli({"write", which, "--from", path, "--dry-run", "--json"});
        QCOMPARE(run.status, 0);
        QList<QByteArray> printed;
        for (const QJsonValue frame : QJsonDocument::fromJson(run.out).object().value("frames").toArray())
            printed << QByteArray::fromHex(frame.toObject().value("hex").toString().toLatin1());
        QList<QByteArray> expected;
        for (const QByteArray& id : which == "--all" ? QList<QByteArray>{kFirst, kSecond} : QList{kFirst}) {
            for (const auto& [name, value] : {std::pair{"Ethernet_Mode", frames::FieldValue{0, {}}},
                                              {"UART_BaudRate", {7, {}}},
                                              {"Ch1_D_IP", {-1, "10.0.0.1"}}})
                expected << *frames::setting(id, parameterOf(fieldNamed(name)), value);
        }
        QCOMPARE(printed, expected);
        QCOMPARE(sentFrames(*m_tap).size(), sentFrames(*m_tap).count("SETUP"));
    }
}
// The short form of bench_cli_soak: the engine reads 20 modules three times in this process while
// the simulator loses 2 % of its replies; every read holds the module's values or fails.
void TestCli::readsUnderLossNeverSucceedWrong()
{
    QVERIFY(sim({"--count", "20", "--loss", "2:5", "--quiet"}));
    cli::Session session;
    QString error;
    QVERIFY2(session.open(&error), qPrintable(error));
    QVERIFY2(session.useCard(QString(), &error), qPrintable(error));
    const QList<cli::Found> found = session.scan();
    QVERIFY(found.size() >= 18); // a discovery reply lost four times over is rare, not impossible
    const CliSoakFigures figures = soakCliReads(session, found, 3);
    QCOMPARE(figures.rounds, 3);
    QCOMPARE(figures.readsOk + figures.readsFailed, 3 * static_cast<int>(found.size()));
    QVERIFY2(figures.wrongSuccesses == 0, qPrintable(figures.firstProblem));
    QCOMPARE(figures.unknownModules, 0);
    QVERIFY(figures.readsOk > 0);
}

// The exit status as the manual's table gives it: 0 every module addressed succeeded, 1 one failed
// or was not found, 2 nothing was tried. With the status, the line that says why.
void TestCli::exitStatus_data()
{
    QTest::addColumn<QStringList>("simulator"); // empty: no module on the network
    QTest::addColumn<bool>("noRoute");          // in a network of its own with no card and no route
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("journal"); // TARVIK_JOURNAL, in the test's directory; empty: journal/
    QTest::addColumn<QString>("printed"); // on stdout
    const QStringList one{"--quiet"};
    QTest::newRow("read, found") << one << false << QStringList{"read", kFirstId} << 0 << QString() << QString()
                                 << QString();
    QTest::newRow("read, none found") << one << false << QStringList{"read", "00AA00000009"} << 1
                                      << "00AA00000009: not found (no answer to SETUP)" << QString() << QString();
    QTest::newRow("read, a port not digits")
        << QStringList{"--quiet", "--answer", "PT1=0/:80"} << false
        << QStringList{"read", kFirstId, "--out", "values.json"} << 1
        << "001A2B3C4D5E: Ch1_Port_Number: the module's reply is not digits where the value has them: "
           "001a2b3c4d5e302f3a3830 (hex)"
        << QString() << QString();
    // The reply names no SETUP: the first one it can follow is told, and when a later one had gone
    // out before it came, that it cannot be told.
    QTest::newRow("probe, found") << one << false << QStringList{"probe", kFirstId, "--json"} << 0 << QString()
                                  << QString() << "\"broadcast\": 1,";
    QTest::newRow("probe, an answer after the second SETUP")
        << QStringList{"--quiet", "--delay", "600:SETUP"} << false << QStringList{"probe", kFirstId, "--json"} << 0
        << QString() << QString() << "\"broadcast\": null,";
    QTest::newRow("probe, absent") << one << false << QStringList{"probe", "00AA00000009"} << 1
                                   << "00AA00000009 did not answer 4 SETUP broadcasts" << QString() << QString();
    QTest::newRow("scan, no answer") << QStringList() << false << QStringList{"scan"} << 1
                                     << "tarvik-cli doctor looks for why (the port, the cards, firewalls, the "
                                        "reverse-path filter)"
                                     << QString() << QString();
    QTest::newRow("--all, no answer") << QStringList() << false << QStringList{"reset", "--all", "--json"} << 2
                                      << "no module answered the scan" << QString() << QString();
    QTest::newRow("no broadcast leaves") << one << true << QStringList{"read", "--all", "--out", "values.json"} << 2
                                         << "no broadcast could leave any card: Network is unreachable" << QString()
                                         << QString();
    QTest::newRow("bad option") << one << false << QStringList{"read", kFirstId, "--jobs", "x"} << 2
                                << "--jobs takes a number" << QString() << QString();
    QTest::newRow("a count that ends at .254")
        << one << false << QStringList{"write",    kFirstId, "001A2B3C4D5F",     "--from",
                                       "all.json", "--set",  "S_IP=10.0.0.253+", "--dry-run"}
        << 0 << QString() << QString() << QString();
    QTest::newRow("a count past .254") << one << false << QStringList{"write",    kFirstId, "001A2B3C4D5F",    "--from",
                                                                      "all.json", "--set",  "S_IP=10.0.0.254+"}
                                       << 2 << "--set S_IP: 10.0.0.254 counted up for 2 modules passes .254"
                                       << QString() << QString();
    QTest::newRow("write, its journal entry cannot be saved")
        << one << false << QStringList{"write", kFirstId, "--from", "all.json"} << 1
        << "001A2B3C4D5E: not touched: its journal entry cannot be saved: cannot make the journal directory " +
               m_dir.filePath("all.json/journal")
        << "all.json/journal" << QString();
    QTest::newRow("write, two modules given one address")
        << QStringList{"--quiet", "--count", "2"} << false
        << QStringList{"write", kFirstId, "001A2B3C4D5F", "--from", "all.json"} << 2
        << "001A2B3C4D5E, 001A2B3C4D5F: S_IP: " + changedAddress() + " to be written to 001A2B3C4D5E, 001A2B3C4D5F"
        << QString() << QString();
    QTest::newRow("write --dry-run, two modules given one address")
        << one << false << QStringList{"write", kFirstId, "001A2B3C4D5F", "--from", "all.json", "--dry-run"} << 2
        << "001A2B3C4D5E, 001A2B3C4D5F: S_IP: " + changedAddress() + " to be written to 001A2B3C4D5E, 001A2B3C4D5F"
        << QString() << QString();
    QTest::newRow("undo, an empty journal")
        << one << false << QStringList{"undo", kFirstId} << 2
        << "no journal entry for 001A2B3C4D5E in " + m_dir.filePath("journal") << QString() << QString();
    QTest::newRow("history, not an identity")
        << one << false << QStringList{"history", "00AA"} << 2 << "00AA is not an identity (12 hexadecimal digits)"
        << QString() << QString();
    QTest::newRow("audit, a plan that is not there")
        << one << false << QStringList{"audit", "--all", "--against", "plan.csv"} << 2
        << "plan.csv: No such file or directory" << QString() << QString();
}

void TestCli::exitStatus()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, noRoute);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, line);
    QFETCH(QString, journal);
    QFETCH(QString, printed);
    if (!simulator.isEmpty())
        QVERIFY(sim(simulator));
    qputenv("TARVIK_JOURNAL", m_dir.filePath(journal.isEmpty() ? "journal" : journal).toLocal8Bit());
    QVERIFY(writeFile(m_dir.filePath("all.json"), allChanged()));
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    if (noRoute)
        process.start(QStringLiteral("unshare"), QStringList{"--net", QStringLiteral(TARVIK_CLI_PATH)} + arguments);
    else
        process.start(QStringLiteral(TARVIK_CLI_PATH), arguments);
    QVERIFY(process.waitForFinished(30000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    const QString said = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(said.contains(printed), qPrintable(said));
    QCOMPARE(process.exitCode(), status);
    QVERIFY2(line.isEmpty() ? err.isEmpty() : err.contains("tarvik-cli: " + line + "\n"), qPrintable(err));
    // A value that is not the module's is never saved; nothing but a scan when nothing was tried.
    QCOMPARE(QFile::exists(m_dir.filePath("values.json")), false);
    if (status == 2)
        QCOMPARE(sentFrames(*m_tap).size() - sentFrames(*m_tap).count("SETUP"), 0);
    // Nor does a module change when the command fails before it (the journal, say).
    if (status != 0)
        QCOMPARE(changesSent(sentFrames(*m_tap)), 0);
}

// A plant of four modules: two share an address; one drifts from the plan after commissioning and
// the audit says so, and undo puts it back. A write that stops part of the way is undone too, once
// the address check has been overruled.
void TestCli::plantAuditedAndChangesUndone()
{
    QVERIFY(sim({"--quiet", "--count", "2"}));
    QVERIFY(sim({"--quiet", "--first-id", "00AA00000001"})); // 192.168.1.101, as 001A2B3C4D5E
    QVERIFY(sim({"--quiet", "--first-id", "00BB00000001", "--refuse", "PT1=#1"}));
    const QString plan = m_dir.filePath("plan.csv");
    QCOMPARE(runCli({"read", "--all", "--out", plan}).status, 0);
    QCOMPARE(runCli({"write", "001A2B3C4D5F", "--from", plan, "--set", "Ch4_D_Port=5004"}).status, 0);

    const auto findings = [&](const QStringList& more) {
        const Run audit = runCli(QStringList{"audit", "--all", "--against", plan, "--json"} + more);
        QStringList kinds;
        for (const QJsonValue f : QJsonDocument::fromJson(audit.out).object().value("findings").toArray()) {
            QStringList ids = f.toObject().value("ids").toVariant().toStringList();
            ids.sort(); // the modules answer in any order
            kinds << f.toObject().value("kind").toString() + ' ' + ids.join(',') + ' ' +
                         f.toObject().value("field").toString();
        }
        return std::make_pair(audit, kinds);
    };
    const auto [drifted, found] = findings({});
    QCOMPARE(drifted.status, 1);
    QCOMPARE(found, QStringList(
                        {"same-address 001A2B3C4D5E,00AA00000001,00BB00000001 S_IP", "drift 001A2B3C4D5F Ch4_D_Port"}));
    QVERIFY2(drifted.err.contains("tarvik-cli: 001A2B3C4D5F: Ch4_D_Port: commissioned 00000, module holds 05004\n"),
             qPrintable(drifted.err));
    QCOMPARE(runCli({"undo", "001A2B3C4D5F"}).status, 0);
    QCOMPARE(findings({}).second, QStringList{found.first()});

    // Stopped at the refused setting of Ch1_Port_Number: the settings before it went out.
    QVERIFY(writeFile(m_dir.filePath("all.json"), allChanged()));
    const Run stopped = runCli({"write", "00BB00000001", "--from", m_dir.filePath("all.json")});
    QCOMPARE(stopped.status, 1);
    QVERIFY2(stopped.err.contains("'tarvik-cli undo 00BB00000001' puts it back"), qPrintable(stopped.err));
    // Its address back would clash with the two modules that hold it now: refused, nothing set.
    sentFrames(*m_tap);
    m_tap->clear();
    const Run refused = runCli({"undo", "00BB00000001"});
    QCOMPARE(refused.status, 2);
    QCOMPARE(changesSent(sentFrames(*m_tap)), 0);
    QCOMPARE(runCli({"undo", "00BB00000001", "--force"}).status, 0);
    const Run history = runCli({"history", "00BB00000001", "--json"});
    const QJsonArray entries = QJsonDocument::fromJson(history.out).object().value("entries").toArray();
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries[0].toObject().value("outcome").toString().startsWith("failed: "));
    QCOMPARE(entries[1].toObject().value("outcome").toString(), QStringLiteral("verified"));
    QCOMPARE(entries[1].toObject().value("undoes").toInt(), entries[0].toObject().value("entry").toInt());
    // The plant is as commissioned again, but for the address it had all along.
    QCOMPARE(findings({}).second, QStringList{found.first()});
}

// --trace and --verbose, before the subcommand's name or after it; a capture that cannot be
// written is refused before anything is sent.
void TestCli::sharedOptions_data()
{
    QTest::addColumn<QStringList>("arguments"); // TRACE stands for the capture's path
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");  // on stderr
    QTest::addColumn<bool>("captured"); // the capture holds the scan's SETUP and a reply
    const QString copy = "tarvik.wire: not taken: a discovery reply of a module already found";
    QTest::newRow("--trace first") << QStringList{"--trace", "TRACE", "scan"} << 0 << QString() << true;
    QTest::newRow("--trace after") << QStringList{"scan", "--trace", "TRACE"} << 0 << QString() << true;
    QTest::newRow("--verbose") << QStringList{"--verbose", "scan"} << 0 << copy << false;
    QTest::newRow("not verbose") << QStringList{"scan"} << 0 << QString() << false;
    QTest::newRow("not writable") << QStringList{"read", kFirstId, "--trace", "/nonexistent/t.pcapng"} << 2
                                  << "tarvik-cli: cannot write the capture /nonexistent/t.pcapng: " << false;
}

void TestCli::sharedOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(bool, captured);
    QVERIFY(sim({"--quiet"}));
    const QString trace = m_dir.filePath("trace.pcapng");
    QFile::remove(trace);
    const Run run = runCli(arguments.replaceInStrings(QRegularExpression("^TRACE$"), trace));
    QCOMPARE(run.status, status);
    QVERIFY2(said.isEmpty() ? run.err.isEmpty() : run.err.contains(said), qPrintable(run.err));
    QFile file(trace);
    QCOMPARE(file.open(QIODevice::ReadOnly), captured);
    if (captured) {
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith(QByteArray::fromHex("0a0d0d0a")));
        QVERIFY(bytes.contains("SETUP") && bytes.contains(kFirst) && bytes.contains("taken"));
    }
    if (status == 2)
        QCOMPARE(sentFrames(*m_tap).size(), 0);
}

TARVIK_TEST_MAIN_NET(TestCli)
// The port held by another program (the window, say) or a card that cannot be used: one line that
// says why, status 2, and nothing sent.
void TestCli::refusedInOneLine_data()
{
    QTest::addColumn<bool>("portHeld");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("line");
    QTest::newRow("port held, scan") << true << QStringList{"scan"} << "cannot use UDP port 65002: ";
    QTest::newRow("port held, read") << true << QStringList{"read", "--all"} << "cannot use UDP port 65002: ";
    QTest::newRow("unknown card") << false << QStringList{"scan", "--interface", "nosuch0"}
                                  << "no usable IPv4 interface named nosuch0; usable: none";
    QTest::newRow("loopback") << false << QStringList{"read", kFirstId, "--interface", "lo"}
                              << "no usable IPv4 interface named lo; usable: none";
    QTest::newRow("dry run, unknown card")
        << false << QStringList{"write", kFirstId, "--dry-run", "--interface", "nosuch0", "--from", "/dev/null"}
        << "no usable IPv4 interface named nosuch0; usable: none";
}

void TestCli::refusedInOneLine()
{
    QFETCH(bool, portHeld);
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QVERIFY(sim({"--quiet"}));
    QUdpSocket holder;
    if (portHeld)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
    const Run run = runCli(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith("tarvik-cli: " + line) && run.err.count('\n') == 1, qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(sentFrames(*m_tap).size(), 0);
}

#include "tst_cli.moc"
