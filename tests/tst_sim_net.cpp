// tarvik-sim as a program on the wire: it listens on the modules' port, shares it with other
// simulators, broadcasts its replies to the tool's port, and prints every datagram.
#include "support/simbed.h"
#include "support/testmain.h"

#include <QProcess>

#include <list>
#include <memory>

using namespace tarvik::test;

namespace {

const QByteArray kId = QByteArray::fromHex("001A2B3C4D5E");

QByteArray query(const QByteArray& id, const QByteArray& code)
{
    return (id + "AT" + code + '\r').leftJustified(12, '\0');
}

} // namespace

class TestSimNet : public QObject
{
    Q_OBJECT

private:
    // The tool's side: replies arrive here; requests leave from here to the modules' port.
    std::unique_ptr<WireTap> m_tool;
    std::list<SimProcess> m_sims;

    SimProcess* startSim(const QStringList& arguments)
    {
        SimProcess& sim = m_sims.emplace_back(arguments);
        if (!sim.start())
            qWarning("%s", qPrintable(sim.error()));
        return sim.isRunning() ? &sim : nullptr;
    }
    void send(const QByteArray& bytes) { QVERIFY(m_tool->broadcast(bytes, kModulePort)); }

private slots:
    void init()
    {
        m_tool = std::make_unique<WireTap>();
        QVERIFY(m_tool->open(kLocalPort));
    }
    void cleanup()
    {
        m_sims.clear();
        m_tool.reset();
    }

    void threeModulesAnswerDiscovery()
    {
        SimProcess* sim = startSim({QStringLiteral("--count"), QStringLiteral("3")});
        QVERIFY(sim);
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 3);
        const QList<QByteArray> replies = m_tool->payloads();
        QCOMPARE(replies[0], kId + "192.168.001.101/V3.1");
        QCOMPARE(replies[1], QByteArray::fromHex("001A2B3C4D5F") + "192.168.001.102/V3.1");
        QCOMPARE(replies[2], QByteArray::fromHex("001A2B3C4D60") + "192.168.001.103/V3.1");

        // One line for the datagram received, one for each reply, with hex and printable text.
        QTRY_COMPARE(sim->count(QStringLiteral(" TX ")), 3);
        QCOMPARE(sim->count(QStringLiteral(" RX ")), 1);
        QCOMPARE(sim->count(QStringLiteral("(5 B) 53 45 54 55 50 |SETUP|")), 1);
        QCOMPARE(sim->count(QStringLiteral("001A2B3C4D60 -> 255.255.255.255:65002 (26 B) 00 1A 2B 3C 4D 60 31 39 32")),
                 1);
    }

    void processesShareThePort()
    {
        QVERIFY(startSim({QStringLiteral("--id"), QStringLiteral("0102030A0B0C")}));
        QVERIFY(startSim({QStringLiteral("--id"), QStringLiteral("0102030A0B0D"), QStringLiteral("--quiet")}));
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        QSet<QByteArray> identities;
        for (const QByteArray& reply : m_tool->payloads())
            identities.insert(reply.left(6));
        QCOMPARE(identities,
                 (QSet<QByteArray>{QByteArray::fromHex("0102030A0B0C"), QByteArray::fromHex("0102030A0B0D")}));
    }

    void settingQueryAndReset()
    {
        QVERIFY(startSim({QStringLiteral("--count"), QStringLiteral("2")}));
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        m_tool->clear();

        // Only the addressed module answers.
        send(kId + "ATIP=10.0.0.7\r");
        QTRY_COMPARE(m_tool->frames().size(), 1);
        send(query(kId, "IP"));
        send(kId + "ATSR5=1\r");
        QTRY_COMPARE(m_tool->frames().size(), 3);
        QCOMPARE(m_tool->payloads(), (QList<QByteArray>{kId + "OK", kId + "010.000.000.007", kId + "ER"}));

        // After "END" the module answers nothing but "SETUP": the discovery reply is the first
        // thing that comes back, although the query was sent before it.
        m_tool->clear();
        send(kId + "END");
        send(query(kId, "IP"));
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        QCOMPARE(m_tool->payloads().first(), kId + "010.000.000.007/V3.1");
    }

    void delayedAndDuplicatedReplies()
    {
        QVERIFY(startSim({QStringLiteral("--delay"), QStringLiteral("300:ET?"), QStringLiteral("--duplicate"),
                          QStringLiteral("SETUP")}));
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        QCOMPARE(m_tool->payloads()[0], m_tool->payloads()[1]);
        m_tool->clear();

        const qint64 sent = m_tool->elapsed();
        send(query(kId, "ET"));
        send(query(kId, "EC"));
        QTRY_COMPARE(m_tool->frames().size(), 2);
        // The undelayed reply overtakes the delayed one.
        QCOMPARE(m_tool->payloads(), (QList<QByteArray>{kId + "01", kId + "00"}));
        QVERIFY2(m_tool->frames()[1].atMs - sent >= 290, qPrintable(QString::number(m_tool->frames()[1].atMs - sent)));
    }

    void shutdownNoticeResetsAll()
    {
        SimProcess* sim = startSim({QStringLiteral("--count"), QStringLiteral("2")});
        QVERIFY(sim);
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        send(QByteArray(6, '\xFF') + "END");
        QTRY_COMPARE(sim->count(QStringLiteral("reset: runs, answers only SETUP")), 2);
        m_tool->clear();
        send(query(kId, "ET"));
        send(query(QByteArray::fromHex("001A2B3C4D5F"), "ET"));
        send("SETUP");
        QTRY_COMPARE(m_tool->frames().size(), 2);
        for (const QByteArray& reply : m_tool->payloads())
            QVERIFY(reply.endsWith("/V3.1"));
    }

    void commandLineErrors()
    {
        QProcess help;
        help.start(simulatorPath(), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().contains("Factory values:"));

        QProcess bad;
        bad.start(simulatorPath(), {QStringLiteral("--drop"), QStringLiteral("XX")});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 1);
        QVERIFY(bad.readAllStandardError().contains("unknown request: XX"));
    }
};

TARVIK_TEST_MAIN_NET(TestSimNet)
#include "tst_sim_net.moc"
