// A capture made by a real tarvik-cli read of a simulated module, opened with tshark and the
// Wireshark dissector: the scan, the queries and replies with their parameter names, and the
// verdict on a stranger's datagram that came during the read. Skips without tshark.
#include "link/catalogue.h"
#include "support/simbed.h"
#include "support/testmain.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QString kId = QStringLiteral("001A2B3C4D5E");
const QByteArray kStranger = QByteArray::fromHex("00AA000000013030");
const QString kStrangerVerdict = QStringLiteral("not taken: it carries an identity that no module found has");

// One decoded packet: what the dissector calls it, the parameter it names, its comment.
struct Decoded
{
    QString kind;
    QString parameter;
    QString comment;
};

} // namespace

class TestTrace : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QList<Decoded> m_packets;
    QString m_skip;

private slots:
    void initTestCase()
    {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty()) {
            m_skip = QStringLiteral("tshark is not installed (apt-get install tshark)");
            return;
        }
        // Each reply 100 ms late, so that the stranger's datagram comes while the read runs.
        SimProcess sim({QStringLiteral("--quiet"), QStringLiteral("--delay"), QStringLiteral("100")});
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        WireTap stranger;
        QVERIFY(stranger.open(kModulePort));
        const QString trace = m_dir.filePath(QStringLiteral("read.pcapng"));
        QProcess cli;
        cli.start(QStringLiteral(TARVIK_CLI_PATH), {QStringLiteral("--trace"), trace, QStringLiteral("read"), kId});
        QVERIFY(cli.waitForStarted());
        QTest::qWait(1000);
        QVERIFY(stranger.broadcast(kStranger, kLocalPort, true));
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);

        QProcess reader;
        reader.start(tshark, {QStringLiteral("-X"), QStringLiteral("lua_script:" TARVIK_DISSECTOR_PATH),
                              QStringLiteral("-r"), trace, QStringLiteral("-T"), QStringLiteral("fields"),
                              QStringLiteral("-E"), QStringLiteral("occurrence=f"), QStringLiteral("-e"),
                              QStringLiteral("tarvik.kind"), QStringLiteral("-e"), QStringLiteral("tarvik.parameter"),
                              QStringLiteral("-e"), QStringLiteral("frame.comment")});
        QVERIFY(reader.waitForFinished(60000));
        const QString errors = QString::fromUtf8(reader.readAllStandardError());
        QVERIFY2(reader.exitCode() == 0 && !errors.contains(QStringLiteral("Lua")), qPrintable(errors));
        for (const QString& line : QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = line.split('\t');
            m_packets.append({fields.value(0), fields.value(1), fields.value(2)});
        }
    }

    // How many packets of each kind the dissector names, with the parameters and comments they
    // carry: every parameter of the table queried once and answered once.
    void decoded_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("everyParameter"); // each parameter's name once among them
        QTest::newRow("SETUP") << "SETUP"
                               << "sent" << 1 << false;
        QTest::newRow("its discovery reply") << "discovery reply"
                                             << "taken" << 1 << false;
        QTest::newRow("queries") << "query"
                                 << "sent" << kParameterCount << true;
        QTest::newRow("replies") << "read reply"
                                 << "taken" << kParameterCount << true;
        QTest::newRow("the stranger's datagram") << "reply" << kStrangerVerdict << 1 << false;
        QTest::newRow("nothing unnamed") << ""
                                         << "" << 0 << false;
    }
    void decoded()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, kind);
        QFETCH(QString, comment);
        QFETCH(int, count);
        QFETCH(bool, everyParameter);
        QStringList names;
        for (const Decoded& packet : std::as_const(m_packets)) {
            if (packet.kind != kind)
                continue;
            QCOMPARE(packet.comment, comment);
            names << packet.parameter;
        }
        QCOMPARE(names.size(), count);
        if (everyParameter) {
            for (const Parameter& p : kParameters)
                QVERIFY2(names.count(QLatin1String(p.name)) == 1, p.name);
        }
    }
};

TARVIK_TEST_MAIN_NET(TestTrace)
#include "tst_trace.moc"
