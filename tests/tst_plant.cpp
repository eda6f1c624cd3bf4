// A plant of modules, without the network: parameter files as spreadsheets write them, what an
// audit finds in the values read, the address check a write makes before it sends anything, and
// the journal that keeps every change.
#include "cli/journal.h"
#include "ops/audit.h"
#include "ops/csvfile.h"
#include "ops/decode.h"
#include "ops/paramfile.h"
#include "support/hostilefiles.h"
#include "support/testmain.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;

namespace {

// Every field of a file's sets, one module a part: "001A2B3C4D5E S_IP=10.0.0.5 UART_Bits=9 | ...";
// "-" for the set without identity.
QString summaryOf(const paramfile::Result& file)
{
    QStringList modules;
    for (const paramfile::ModuleValues& module : file.modules) {
        QStringList parts{module.identity.isEmpty() ? QStringLiteral("-") : paramfile::identityText(module.identity)};
        for (const Parameter& p : kParameters) {
            if (const auto& value = module.values[static_cast<size_t>(indexOf(p))])
                parts << QString::fromLatin1(p.name) + QLatin1Char('=') + paramfile::valueText(p, *value);
        }
        modules << parts.join(QLatin1Char(' '));
    }
    return modules.join(QStringLiteral(" | "));
}

const QByteArray kA = QByteArray::fromHex("001a2b3c4d5e");
const QByteArray kB = QByteArray::fromHex("001a2b3c4d5f");

// Two modules as a read gives their factory values (the simulator's), as a spreadsheet would hold them.
const QByteArray kPlantWritten =
    "id,Ethernet_Mode,G_IP,S_IP,MASK,Disp_Mode,UART_BaudRate,UART_Stream,UART_Bits,UART_TimeDeli,UART_ByteDeli,"
    "UART_Parity,UART_Stopbit,Ch1_SOCK_Mode,Ch1_Port_Number,Ch1_D_IP,Ch1_D_Port,Ch2_SOCK_Mode,Ch2_Port_Number,"
    "Ch2_D_IP,Ch2_D_Port,Ch3_SOCK_Mode,Ch3_Port_Number,Ch3_D_IP,Ch3_D_Port,Ch4_SOCK_Mode,Ch4_Port_Number,Ch4_D_IP,"
    "Ch4_D_Port\n"
    "001A2B3C4D5E,0,192.168.001.001,192.168.001.101,255.255.255.000,1,3,0,0,0020,0512,0,0,1,05000,192.168.001.200,"
    "06000,2,05001,192.168.001.200,06001,3,05002,192.168.001.201,06002,0,05003,000.000.000.000,00000\n"
    "001A2B3C4D5F,0,192.168.001.001,192.168.001.102,255.255.255.000,1,3,0,0,0020,0512,0,0,1,05000,192.168.001.200,"
    "06000,2,05001,192.168.001.200,06001,3,05002,192.168.001.201,06002,0,05003,000.000.000.000,00000\n";

// The same, with a column of zeros for every parameter the file above does not name.
QByteArray plantFile()
{
    QList<QByteArray> lines = kPlantWritten.trimmed().split('\n');
    const QList<QByteArray> named = lines.first().split(',');
    for (const Parameter& p : kParameters) {
        if (named.contains(p.name))
            continue;
        const LayoutRow& layout = layoutOf(p.layout);
        const QByteArray zeros =
            p.isDropDown() ? QByteArray("0") : decode::reply(p, QByteArray(layout.shortest(), '0')).text.toLatin1();
        lines[0] += ',' + QByteArray(p.name);
        for (qsizetype i = 1; i < lines.size(); ++i)
            lines[i] += ',' + zeros;
    }
    return lines.join('\n') + '\n';
}
const QByteArray kPlant = plantFile();

const QList<Card> kCards{{3, QStringLiteral("tvk0"), QStringLiteral("172.20.0.1")}};

// Values from "FIELD=VALUE FIELD=VALUE", as a file gives them.
paramfile::Values valuesOf(const QString& text)
{
    paramfile::Values values;
    for (const QString& pair : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const Parameter* p = paramfile::parameterNamed(pair.section(QLatin1Char('='), 0, 0));
        QString why;
        values[static_cast<size_t>(indexOf(*p))] =
            paramfile::valueFromText(*p, pair.section(QLatin1Char('='), 1), &why);
    }
    return values;
}

QString textOf(const paramfile::Values& values)
{
    return summaryOf(paramfile::Result{{{kA, values}}, {}}).section(QLatin1Char(' '), 1);
}

} // namespace

class TestPlant : public QObject
{
    Q_OBJECT

private slots:
    void csvDialects_data();
    void csvDialects();
    void csvWrittenIsReadBack();
    void findings_data();
    void findings();
    void addressCheckBeforeWrite_data();
    void addressCheckBeforeWrite();
    void journalEntries_data();
    void journalEntries();
    void journalKeepsItsFiles();
    void journalDirectory_data();
    void journalDirectory();
};

void TestPlant::csvDialects_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("summary"); // what the file holds; empty when it is refused
    QTest::addColumn<QString>("error");   // part of the refusal
    QTest::addColumn<bool>("gb18030");    // needs a Qt that decodes GB18030
    const auto row = [](const char* name, const QByteArray& file, const QString& summary, bool gb18030 = false) {
        QTest::newRow(name) << file << summary << QString() << gb18030;
    };
    row("comma, LF", "id,S_IP,UART_BaudRate\n001A2B3C4D5E,10.0.0.5,9600bps\n",
        "001A2B3C4D5E S_IP=10.0.0.5 UART_BaudRate=9600bps");
    row("semicolon, CRLF (Excel in many locales)", "id;S_IP;Ch1_Port_Number\r\n001A2B3C4D5E;10.0.0.5;4001\r\n",
        "001A2B3C4D5E S_IP=10.0.0.5 Ch1_Port_Number=4001");
    row("lone CR, no final line end", "id,S_IP\r001A2B3C4D5E,10.0.0.5", "001A2B3C4D5E S_IP=10.0.0.5");
    row("UTF-8 with a byte-order mark (CSV UTF-8)",
        QByteArray("\xEF\xBB\xBF") +
            QStringLiteral("id,Ch1_SOCK_Mode,UART_Parity\r\n001A2B3C4D5E,TCP客户端,偶校验\r\n").toUtf8(),
        "001A2B3C4D5E UART_Parity=偶校验 Ch1_SOCK_Mode=TCP客户端");
    row("GB18030 (CSV from Excel on a Chinese Windows)",
        "id,Ch1_SOCK_Mode,UART_Parity\r\n001A2B3C4D5E,TCP\xbf\xcd\xbb\xa7\xb6\xcb,\xc5\xbc\xd0\xa3\xd1\xe9\r\n",
        "001A2B3C4D5E UART_Parity=偶校验 Ch1_SOCK_Mode=TCP客户端", true);
    row("quoted cells (RFC 4180)", "\"id\",\"S_IP\"\n\"001a2b3c4d5e\",\"10.0.0.5\"\n", "001A2B3C4D5E S_IP=10.0.0.5");
    row("any columns in any order, empty cells not named",
        "Ch1_Port_Number,ID,S_IP\n4001,001A2B3C4D5E,\n,001A2B3C4D5F,10.0.0.6\n",
        "001A2B3C4D5E Ch1_Port_Number=4001 | 001A2B3C4D5F S_IP=10.0.0.6");
    row("blank lines and empty rows at the end", "id,S_IP\n001A2B3C4D5E,10.0.0.5\n\n\r\n,\n",
        "001A2B3C4D5E S_IP=10.0.0.5");
    row("no id column: one set for any module", "S_IP,UART_Bits\n10.0.0.5,9\n", "- S_IP=10.0.0.5 UART_Bits=9");
    row("drop-downs by entry text first, then by position", "UART_BaudRate,UART_Stopbit,UART_Bits\n7,1,1\n",
        "- UART_BaudRate=115200bps UART_Bits=9 UART_Stopbit=1");
    // The same refusals end to end in tst_cli.
    for (const test::HostileFile& file : test::hostileCsvFiles()) {
        if (file.size == 0)
            QTest::newRow(file.name) << file.content << QString() << file.message << false;
    }
}

// What people's spreadsheet programs save is read as they meant it; anything else is refused whole,
// with the line and the cell.
void TestPlant::csvDialects()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, summary);
    QFETCH(QString, error);
    QFETCH(bool, gb18030);
    if (gb18030 && !csvfile::canDecodeGb18030()) {
        // A Qt without ICU: the file is refused with the way out, never misread.
        QVERIFY(csvfile::parse(file).error.contains("cannot read GB18030 (GBK): save the sheet as CSV UTF-8"));
        QSKIP("this build's Qt cannot decode GB18030");
    }
    const paramfile::Result result = csvfile::parse(file);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QCOMPARE(result.ok(), error.isEmpty());
    QCOMPARE(summaryOf(result), summary);
}

// read --out FILE.csv: every field of every module, read back as it was written, and opened by
// Excel as UTF-8 (the byte-order mark).
void TestPlant::csvWrittenIsReadBack()
{
    paramfile::Result plant = csvfile::parse(kPlant);
    QVERIFY2(plant.ok(), qPrintable(plant.error));
    plant.modules[0].values[static_cast<size_t>(fieldNamed("Ch1_SOCK_Mode"))]->index = 2; // TCP客户端
    const QByteArray written = csvfile::write(plant.modules);
    QVERIFY(written.startsWith("\xEF\xBB\xBFid,Ethernet_Mode,G_IP,"));
    QCOMPARE(written.count("\r\n"), plant.modules.size() + 1);
    QCOMPARE(written.left(written.indexOf('\r')).count(','), kParameterCount);
    QCOMPARE(summaryOf(csvfile::parse(written)), summaryOf(plant));
}

void TestPlant::findings_data()
{
    QTest::addColumn<QStringList>("changes"); // "N:FIELD=VALUE", N the module (1 or 2) of kPlant
    QTest::addColumn<QByteArray>("plan");     // a CSV file to audit against; empty: none
    QTest::addColumn<bool>("everyModule");    // --all
    QTest::addColumn<QStringList>("found");   // "kind: message"
    const auto row = [](const char* name, const QStringList& changes, const QStringList& found) {
        QTest::newRow(name) << changes << QByteArray() << false << found;
    };
    row("factory values", {}, {});
    row("two modules, one address", {"2:S_IP=192.168.1.101"},
        {"same-address: 001A2B3C4D5E, 001A2B3C4D5F: S_IP: 2 modules hold 192.168.1.101"});
    row("this PC's address", {"1:S_IP=172.20.0.1", "1:MASK=255.255.0.0", "1:G_IP=0.0.0.0"},
        {"pc-address: 001A2B3C4D5E: S_IP: 172.20.0.1 is this PC's address (tvk0)"});
    row("a mask with a hole", {"1:MASK=255.0.255.0"},
        {"mask: 001A2B3C4D5E: MASK: 255.0.255.0 is not a contiguous mask"});
    row("the network address", {"1:S_IP=192.168.1.0"},
        {"subnet-edge: 001A2B3C4D5E: S_IP: 192.168.1.0 is the network address of its subnet 192.168.1.0/24"});
    row("the broadcast address", {"2:S_IP=192.168.1.255"},
        {"subnet-edge: 001A2B3C4D5F: S_IP: 192.168.1.255 is the broadcast address of its subnet 192.168.1.0/24"});
    row("a gateway outside the subnet", {"1:G_IP=192.168.2.1"},
        {"gateway: 001A2B3C4D5E: G_IP: 192.168.2.1 is outside the module's subnet 192.168.1.0/24 (S_IP "
         "192.168.1.101)"});
    row("no gateway (0.0.0.0)", {"1:G_IP=0.0.0.0"}, {});
    row("a server and UDP on one port", {"1:Ch3_Port_Number=5000"},
        {"same-port: 001A2B3C4D5E: Ch1_Port_Number, Ch3_Port_Number: 2 channels listen on port 5000"});
    row("a TCP client and a closed channel do not listen", {"1:Ch2_Port_Number=5000", "1:Ch4_Port_Number=05000"}, {});
    row("a client sends to 0.0.0.0", {"2:Ch4_SOCK_Mode=2"},
        {"destination: 001A2B3C4D5F: Ch4_D_IP: 0.0.0.0 as the destination of a TCP客户端 channel (Ch4_SOCK_Mode) is "
         "no address"});
    row("UDP sends to the module itself", {"1:Ch3_D_IP=192.168.001.101"},
        {"destination: 001A2B3C4D5E: Ch3_D_IP: 192.168.1.101 as the destination of a UDP模式0 channel "
         "(Ch3_SOCK_Mode) is the module's own address"});
    row("a server's destination is not used", {"1:Ch1_D_IP=0.0.0.0"}, {});

    const QByteArray plan = "id,Ch4_D_Port,Ch1_Port_Number\n001A2B3C4D5E,7000,5000\n001A2B3C4D60,,4001\n";
    QTest::newRow("drift, numbers by value")
        << QStringList() << plan << false
        << QStringList{"drift: 001A2B3C4D5E: Ch4_D_Port: commissioned 7000, module holds 00000"};
    QTest::newRow("--all: missing and unlisted")
        << QStringList{"1:Ch4_D_Port=7000"} << plan << true
        << QStringList{"unlisted: 001A2B3C4D5F: answered the scan, and plan.csv does not name it",
                       "missing: 001A2B3C4D60: in plan.csv, and did not answer the scan"};
    QTest::newRow("one set for every module")
        << QStringList{"2:UART_BaudRate=7"} << QByteArray("UART_BaudRate\n9600bps\n") << true
        << QStringList{"drift: 001A2B3C4D5F: UART_BaudRate: commissioned 9600bps, module holds 115200bps"};
}

// Every kind of finding, each from the values read, named by module and field, in one line.
void TestPlant::findings()
{
    QFETCH(QStringList, changes);
    QFETCH(QByteArray, plan);
    QFETCH(bool, everyModule);
    QFETCH(QStringList, found);
    paramfile::Result plant = csvfile::parse(kPlant);
    QVERIFY2(plant.ok(), qPrintable(plant.error));
    for (const QString& change : changes) {
        const QStringList parts = change.split(QRegularExpression("[:=]"));
        const Parameter* p = paramfile::parameterNamed(parts[1]);
        QVERIFY2(p, qPrintable(change));
        QString why;
        auto& value = plant.modules[parts[0].toInt() - 1].values[static_cast<size_t>(indexOf(*p))];
        value = paramfile::valueFromText(*p, parts[2], &why);
        if (!value && p->isDropDown())
            value = frames::FieldValue{parts[2].toInt(), {}};
        QVERIFY2(value, qPrintable(why));
    }
    QList<audit::Finding> findings = audit::conflicts(plant.modules, kCards);
    if (!plan.isEmpty()) {
        const paramfile::Result file = csvfile::parse(plan);
        QVERIFY2(file.ok(), qPrintable(file.error));
        findings += audit::drift(plant.modules, file, {kA, kB}, everyModule, "plan.csv");
    }
    QStringList lines;
    for (const audit::Finding& f : std::as_const(findings)) {
        lines << audit::kindName(f.kind) + QStringLiteral(": ") + f.message;
        QVERIFY(!f.ids.isEmpty());
        QVERIFY(f.message.startsWith(paramfile::identityText(f.ids.first())));
    }
    QCOMPARE(lines, found);
}

void TestPlant::addressCheckBeforeWrite_data()
{
    QTest::addColumn<QStringList>("addresses"); // "ID<ADDRESS": to be written; "ID=ADDRESS": what it holds
    QTest::addColumn<QStringList>("found");
    QTest::newRow("counted up, apart") << QStringList{"001A2B3C4D5E<10.0.0.5", "001A2B3C4D5F<10.0.0.6"}
                                       << QStringList();
    QTest::newRow("two targets, one address")
        << QStringList{"001A2B3C4D5E<10.0.0.5", "001A2B3C4D5F<10.0.0.5", "001A2B3C4D60=10.0.0.6"}
        << QStringList{"001A2B3C4D5E, 001A2B3C4D5F: S_IP: 10.0.0.5 to be written to 001A2B3C4D5E, 001A2B3C4D5F"};
    QTest::newRow("another module holds it")
        << QStringList{"001A2B3C4D5E<10.0.0.5", "001A2B3C4D60=010.000.000.005"}
        << QStringList{"001A2B3C4D5E, 001A2B3C4D60: S_IP: 10.0.0.5 to be written to 001A2B3C4D5E, and "
                       "001A2B3C4D60 holds it"};
    QTest::newRow("two modules that already share one")
        << QStringList{"001A2B3C4D5F=10.0.0.6", "001A2B3C4D60=10.0.0.6"} << QStringList();
    QTest::newRow("this PC's address") << QStringList{"001A2B3C4D5E<172.20.0.1"}
                                       << QStringList{"001A2B3C4D5E: S_IP: 172.20.0.1 to be written is this PC's "
                                                      "address (tvk0)"};
}

// A write refuses addresses that would clash, before anything goes out; what already is stays.
void TestPlant::addressCheckBeforeWrite()
{
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, found);
    QList<audit::Address> list;
    for (const QString& a : std::as_const(addresses)) {
        const bool written = a.contains('<');
        const QStringList parts = a.split(written ? '<' : '=');
        list << audit::Address{paramfile::identityFromText(parts[0]), parts[1], written};
    }
    QStringList lines;
    for (const audit::Finding& f : audit::clashes(list, kCards))
        lines << f.message;
    QCOMPARE(lines, found);
}

void TestPlant::journalEntries_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("written"); // "-": none (defaults)
    QTest::addColumn<bool>("backup");     // the module's values before: kPlant's first
    QTest::addColumn<QString>("after");   // what was read after, where it differs from before; empty: nothing read
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QString>("undo"); // what undoing it writes
    QTest::newRow("a write") << "write"
                             << "S_IP=10.0.0.5 Ch1_Port_Number=4001" << true
                             << "S_IP=010.000.000.005 Ch1_Port_Number=04001" << QStringList{"S_IP", "Ch1_Port_Number"}
                             << "S_IP=192.168.001.101 Ch1_Port_Number=05000";
    QTest::newRow("values the module held already")
        << "write"
        << "S_IP=192.168.1.101 Ch1_Port_Number=5000" << true << QString() << QStringList{"S_IP"}.mid(1)
        << "S_IP=192.168.001.101 Ch1_Port_Number=05000";
    QTest::newRow("defaults: every field put back")
        << "defaults"
        << "-" << true << "UART_BaudRate=9600bps Ch4_D_Port=7000" << QStringList{"Ch4_D_Port"}
        << textOf(csvfile::parse(kPlant).modules.first().values);
    QTest::newRow("no backup: nothing to put back")
        << "write"
        << "S_IP=10.0.0.5" << false << QString() << QStringList{"S_IP"} << QString();
}

// What an entry keeps survives its file; the fields it changed and what undoing it writes follow
// from what was set and what the module held.
void TestPlant::journalEntries()
{
    QFETCH(QString, command);
    QFETCH(QString, written);
    QFETCH(bool, backup);
    QFETCH(QString, after);
    QFETCH(QStringList, changed);
    QFETCH(QString, undo);
    cli::journal::Entry entry;
    entry.number = 7;
    entry.identity = kA;
    entry.command = command;
    entry.time = QDateTime::fromString("2026-03-01T10:20:30.456+08:00", Qt::ISODateWithMs);
    if (written != "-")
        entry.written = valuesOf(written);
    if (backup)
        entry.backup = csvfile::parse(kPlant).modules.first().values;
    if (!after.isEmpty()) {
        entry.outcome = cli::journal::Entry::Outcome::Done;
        // What the module was read to hold after: as before, but for these fields.
        entry.after = csvfile::parse(kPlant).modules.first().values;
        const paramfile::Values changes = valuesOf(after);
        for (size_t i = 0; i < changes.size(); ++i) {
            if (changes[i])
                (*entry.after)[i] = changes[i];
        }
    }
    QString error;
    const std::optional<cli::journal::Entry> again = cli::journal::fromJson(cli::journal::toJson(entry), &error);
    QVERIFY2(again, qPrintable(error));
    QCOMPARE(again->time, entry.time);
    QCOMPARE(again->time.offsetFromUtc(), 8 * 3600);
    QCOMPARE(cli::journal::toJson(*again), cli::journal::toJson(entry));
    QCOMPARE(again->fieldsChanged(), changed);
    QCOMPARE(textOf(again->undoValues()), undo);
    QCOMPARE(again->fields().size(), written == "-" ? kParameterCount : int(written.count('=')));
}

// Entries are numbered on from the highest in the directory, read back in order, and a file that is
// no entry is named, not taken. Where no entry can be saved, the number stays free.
void TestPlant::journalKeepsItsFiles()
{
    QTemporaryDir dir;
    cli::journal::Journal journal(dir.filePath("journal"));
    cli::journal::Entry first, second;
    for (cli::journal::Entry* entry : {&first, &second}) {
        entry->identity = entry == &first ? kA : kB;
        entry->command = QStringLiteral("write");
        entry->time = QDateTime::currentDateTime();
        entry->written = valuesOf("UART_Bits=9");
        QString error;
        QVERIFY2(journal.save(*entry, &error), qPrintable(error));
    }
    QCOMPARE(first.number, 1);
    QCOMPARE(QFileInfo(second.path).fileName(), QStringLiteral("000002-001A2B3C4D5F-write.json"));
    second.outcome = cli::journal::Entry::Outcome::Failed;
    second.error = QStringLiteral("no reply");
    QString error;
    QVERIFY(journal.save(second, &error)); // the outcome, in the same file
    QFile junk(dir.filePath("journal/000009-001A2B3C4D5E-write.json"));
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("{\"entry\": 9") > 0);
    junk.close();

    cli::journal::Journal reopened(dir.filePath("journal"));
    QStringList problems;
    const QList<cli::journal::Entry> entries = reopened.entries(&problems);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[1].outcome, cli::journal::Entry::Outcome::Failed);
    QCOMPARE(entries[1].error, QStringLiteral("no reply"));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.first().contains("000009-001A2B3C4D5E-write.json: not a journal entry"), qPrintable(problems[0]));
    cli::journal::Entry third = first;
    third.number = 0;
    QVERIFY(reopened.save(third, &error));
    QCOMPARE(third.number, 10);

    cli::journal::Journal blocked(second.path + "/journal"); // under a file
    cli::journal::Entry lost = first;
    lost.number = 0;
    QVERIFY(!blocked.save(lost, &error));
    QCOMPARE(lost.number, 0);
    QVERIFY2(error.startsWith("cannot make the journal directory "), qPrintable(error));
}

void TestPlant::journalDirectory_data()
{
    QTest::addColumn<QByteArray>("journal"); // TARVIK_JOURNAL
    QTest::addColumn<QByteArray>("state");   // XDG_STATE_HOME
    QTest::addColumn<QString>("directory");  // under HOME when relative
    QTest::newRow("TARVIK_JOURNAL") << QByteArray("/srv/plant/journal") << QByteArray("/x") << "/srv/plant/journal";
    QTest::newRow("XDG_STATE_HOME") << QByteArray() << QByteArray("/var/state") << "/var/state/tarvik/journal";
    QTest::newRow("XDG_STATE_HOME relative: ignored")
        << QByteArray() << QByteArray("state") << ".local/state/tarvik/journal";
    QTest::newRow("neither") << QByteArray() << QByteArray() << ".local/state/tarvik/journal";
}

void TestPlant::journalDirectory()
{
    QFETCH(QByteArray, journal);
    QFETCH(QByteArray, state);
    QFETCH(QString, directory);
#ifdef Q_OS_WIN
    if (journal.isEmpty())
        QSKIP("Windows keeps its state under %LOCALAPPDATA%");
#endif
    qputenv("TARVIK_JOURNAL", journal);
    qputenv("XDG_STATE_HOME", state);
    QCOMPARE(cli::journal::directory(), QDir::isAbsolutePath(directory) ? directory : QDir::home().filePath(directory));
}

TARVIK_TEST_MAIN(TestPlant)

#include "tst_plant.moc"
