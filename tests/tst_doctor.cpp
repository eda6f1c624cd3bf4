// tarvik-cli doctor end to end: the PC is this test's own network namespace, the module networks
// are namespaces behind veth pairs (or a bridge two cards share) with tarvik-sim in them, and each
// row sets up one thing that keeps replies away, with nft where a firewall is the cause.
#include "ops/dispatch.h"
#include "support/netlab.h"
#include "support/simbed.h"
#include "support/testmain.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QString g_noNamespace;

enum Setup
{
    Healthy,      // one card, a module network behind it with two modules
    PortHeld,     // as healthy, and this test holds UDP 65002
    CardDown,     // the only card is down
    SendRefused,  // a second card through which nft refuses what leaves
    OtherCard,    // two cards on one LAN, --interface names one
    ReversePath,  // the card's reverse-path filter strict, the modules in another subnet
    InputDropped, // nft drops UDP 65002 as it arrives
    ZoneClosed,   // firewalld runs (a stand-in firewall-cmd) and the card's zone does not open the port
};

// A firewall-cmd that answers as a running firewalld whose zone "public" opens neither the tarvik
// service nor the port.
const char* const kFirewallCmd = R"(#!/bin/sh
case "$*" in
--state) echo running ;;
--get-zone-of-interface=*) echo public ;;
*--query-*) echo no; exit 1 ;;
*) exit 2 ;;
esac
)";

bool nft(const QString& script)
{
    QProcess process;
    process.start(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")});
    process.write(script.toUtf8());
    process.closeWriteChannel();
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

bool writeSysctl(const QString& path, const QByteArray& value)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(value) == value.size();
}

} // namespace

class TestDoctor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<NetLab> m_lab;
    std::list<std::unique_ptr<SimProcess>> m_sims;

    bool startSim(const QStringList& arguments, int netns)
    {
        m_sims.push_back(std::make_unique<SimProcess>(arguments, nullptr, netns));
        return m_sims.back()->start();
    }

private slots:
    void init()
    {
        if (!g_noNamespace.isEmpty())
            QSKIP(qPrintable(g_noNamespace));
        m_lab = std::make_unique<NetLab>();
        QVERIFY(m_lab->ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}));
    }
    void cleanup()
    {
        m_sims.clear();
        m_lab.reset();
        if (!QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty())
            nft(QStringLiteral("flush ruleset\n"));
    }

    // What the doctor finds, one row per cause; each expected line begins as given.
    void finds_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines");
        const QString setups = QString::number(kScanBroadcasts);
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QTest::newRow("healthy") << int(Healthy) << QStringList() << 0
                                 << QStringList{"port 65002: ok: free",
                                                "card tvkA: ok: up, running, can broadcast: 172.20.0.1/24",
                                                "broadcast tvkA: ok: " + setups + " SETUPs sent",
                                                QStringLiteral("replies: ok: %1 datagrams (%1 on tvkA from "
                                                               "192.168.1.100); %1 discovery replies from 2 modules")
                                                    .arg(2 * kScanBroadcasts),
                                                "module 001A2B3C4D5E  tvkA  192.168.001.101/V3.1",
                                                "module 001A2B3C4D5F  tvkA  192.168.001.102/V3.1"};
        QTest::newRow("port held") << int(PortHeld) << QStringList() << 2
                                   << QStringList{"port 65002: problem: held by process " + pid +
                                                      " (tst_doctor); "
                                                      "what to do: close it",
                                                  "broadcast: could not check: UDP port 65002 cannot be used"};
        QTest::newRow("no usable card") << int(CardDown) << QStringList() << 2
                                        << QStringList{"card tvkA: problem: down (172.20.0.1/24)",
                                                       "cards: problem: no usable card",
                                                       "broadcast (routing table): problem: SETUP could not be sent (" +
                                                           setups + " of " + setups + "): Network is unreachable"};
        QTest::newRow("broadcast refused")
            << int(SendRefused) << QStringList() << 1
            << QStringList{"broadcast tvkA: ok: " + setups + " SETUPs sent",
                           "broadcast tvkB: problem: SETUP could not be sent (" + setups + " of " + setups +
                               "): Operation not permitted; what to do: a packet filter on this PC refuses"};
        QTest::newRow("replies on a card not in use")
            << int(OtherCard) << QStringList{"--interface", "tvkA"} << 1
            << QStringList{"card tvkB: ok: not used: --interface tvkA",
                           QStringLiteral("replies tvkB: problem: %1 datagrams came on tvkB, a card not in use "
                                          "(--interface tvkA)")
                               .arg(kScanBroadcasts),
                           "module 001A2B3C4D5E  tvkA"};
        QTest::newRow("nothing arrives: reverse-path filter")
            << int(ReversePath) << QStringList() << 1
            << QStringList{"replies: problem: nothing arrived at UDP port 65002",
                           "rp_filter tvkA: problem: strict (1), and no default route goes through tvkA: the kernel "
                           "drops replies from a module outside 172.20.0.0/24",
                           "nftables: ok: no chain filters what arrives"};
        QTest::newRow("nothing arrives: a firewall")
            << int(InputDropped) << QStringList() << 1
            << QStringList{"replies: problem: nothing arrived at UDP port 65002", "rp_filter tvkA: ok: off (0)",
                           "nftables: problem: the chain inet tvk in drops UDP 65002 (rule handle"};
        QTest::newRow("nothing arrives: firewalld")
            << int(ZoneClosed) << QStringList() << 1
            << QStringList{"firewalld: problem: running, and the zone public of tvkA lets in neither the tarvik "
                           "service nor UDP 65002; what to do: sudo firewall-cmd --zone=public --permanent "
                           "--add-service=tarvik"};
    }
    void finds()
    {
        QFETCH(int, setup);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        const bool usesNft = setup == SendRefused || setup == InputDropped;
        if (usesNft && QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty())
            QSKIP("nft is not installed (apt-get install nftables)");
        const QString own = QStringLiteral("172.20.0.1/24");
        const QString module = QStringLiteral("192.168.1.100/24");
        int netns = -1;
        if (setup == OtherCard)
            netns = m_lab->addSharedNetwork(QStringLiteral("tvkA"), own, QStringLiteral("tvkB"),
                                            QStringLiteral("172.21.0.1/24"), module);
        else
            netns = m_lab->addNetwork(QStringLiteral("tvkA"), own, module);
        QVERIFY(netns >= 0);
        QStringList simulator{QStringLiteral("--quiet"), QStringLiteral("--count"),
                              QString::number(setup == OtherCard ? 1 : 2)};
        if (setup == ZoneClosed)
            simulator << QStringLiteral("--silent");
        QVERIFY(startSim(simulator, netns));
        QUdpSocket holder;
        switch (setup) {
        case PortHeld:
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalPort));
            break;
        case CardDown:
            QVERIFY(m_lab->ip(
                {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("tvkA"), QStringLiteral("down")}));
            break;
        case SendRefused:
            QVERIFY(m_lab->addNetwork(QStringLiteral("tvkB"), QStringLiteral("172.21.0.1/24"),
                                      QStringLiteral("192.168.2.100/24")) >= 0);
            QVERIFY(nft(QStringLiteral("table inet tvk {\n chain out {\n  type filter hook output priority 0;\n"
                                       "  oifname \"tvkB\" udp dport 65000 drop\n }\n}\n")));
            break;
        case ReversePath:
            QVERIFY(writeSysctl(QStringLiteral("/proc/sys/net/ipv4/conf/tvkA/rp_filter"), "1"));
            break;
        case InputDropped:
            QVERIFY(nft(QStringLiteral("table inet tvk {\n chain in {\n  type filter hook input priority 0;\n"
                                       "  udp dport 65002 drop\n }\n}\n")));
            break;
        default:
            break;
        }
        QProcess cli;
        QTemporaryDir bin;
        if (setup == ZoneClosed) {
            QFile script(bin.filePath(QStringLiteral("firewall-cmd")));
            QVERIFY(script.open(QIODevice::WriteOnly) && script.write(kFirewallCmd) > 0);
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            script.close();
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PATH"), bin.path() + ':' + environment.value(QStringLiteral("PATH")));
            cli.setProcessEnvironment(environment);
        }
        cli.start(QStringLiteral(TARVIK_CLI_PATH), QStringList{QStringLiteral("doctor")} + arguments);
        QVERIFY(cli.waitForFinished(60000));
        const QStringList output = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const QString all = output.join('\n') + '\n' + QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(cli.exitCode() == status, qPrintable(QStringLiteral("status %1\n").arg(cli.exitCode()) + all));
        for (const QString& line : std::as_const(lines)) {
            const bool found =
                std::any_of(output.cbegin(), output.cend(), [&](const QString& l) { return l.startsWith(line); });
            QVERIFY2(found, qPrintable(QStringLiteral("no line begins with: %1\n%2").arg(line, all)));
        }
    }
};

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    if (!NetLab::enterOwnNamespace(&g_noNamespace) && g_noNamespace.isEmpty())
        g_noNamespace = QStringLiteral("no network namespace of its own");
    QCoreApplication app(argc, argv);
    TestDoctor test;
    QTEST_SET_MAIN_SOURCE_PATH
    return tarvik::test::testStatus(QTest::qExec(&test, argc, argv));
}

#include "tst_doctor.moc"
