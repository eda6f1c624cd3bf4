// The doctor's Linux look-ups on what they read: the reverse-path filter against the routes, ufw's
// files and nft's rules.
#include "os/diagnose.h"
#include "support/testmain.h"

#include <QTest>

using namespace tarvik::os;

Q_DECLARE_METATYPE(tarvik::os::Check::Status)

namespace {

constexpr quint16 kPort = 65002;
const CardAddress kCard{3, QStringLiteral("eth1"), QStringLiteral("eth1"), 0xAC140001, 24}; // 172.20.0.1/24

// `nft -j list ruleset` of one table "t" with a chain of `hook` and policy, and rules of expressions.
QByteArray nftRules(const char* hook, const char* policy, const QList<QByteArray>& rules)
{
    QByteArray json = R"({"nftables": [{"chain": {"family": "inet", "table": "t", "name": "c", "hook": ")" +
                      QByteArray(hook) + R"(", "policy": ")" + policy + "\"}}";
    for (int i = 0; i < rules.size(); ++i)
        json += R"(, {"rule": {"family": "inet", "table": "t", "chain": "c", "handle": )" + QByteArray::number(i + 2) +
                R"(, "expr": [)" + rules[i] + "]}}";
    return json + "]}";
}

const QByteArray kUdpPort = R"({"match": {"op": "==", "left": {"payload": {"protocol": "udp", "field": "dport"}},
                                "right": 65002}})";
const QByteArray kPortSet = R"({"match": {"op": "==", "left": {"payload": {"protocol": "th", "field": "dport"}},
                               "right": {"set": [80, {"range": [65000, 65010]}]}}})";
const QByteArray kTcpPort = R"({"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}},
                               "right": 65002}})";

} // namespace

class TestDiagnose : public QObject
{
    Q_OBJECT

private slots:
    void reversePathFilter_data()
    {
        QTest::addColumn<int>("effective");
        QTest::addColumn<QString>("defaultRoute"); // the card it goes through; empty: none
        QTest::addColumn<Check::Status>("status");
        QTest::newRow("off") << 0 << QString() << Check::Ok;
        QTest::newRow("strict, default here") << 1 << "eth1" << Check::Ok;
        QTest::newRow("strict, default elsewhere") << 1 << "eth0" << Check::Problem;
        QTest::newRow("loose, a default route") << 2 << "eth0" << Check::Ok;
        QTest::newRow("loose, no route") << 2 << QString() << Check::Problem;
        QTest::newRow("unread") << -1 << QString() << Check::Unchecked;
    }
    void reversePathFilter()
    {
        QFETCH(int, effective);
        QFETCH(QString, defaultRoute);
        QFETCH(Check::Status, status);
        QList<parse::Route> routes{{QStringLiteral("eth1"), 0xAC140000, 0xFFFFFF00}};
        if (!defaultRoute.isEmpty())
            routes.append({defaultRoute, 0, 0});
        const Check check = parse::reversePathFilter(kCard, effective, routes);
        QCOMPARE(check.status, status);
        QCOMPARE(check.advice.isEmpty(), status != Check::Problem);
    }

    void ufw_data()
    {
        QTest::addColumn<QString>("conf");
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("rules"); // "-": they cannot be read
        QTest::addColumn<Check::Status>("status");
        const QString on = QStringLiteral("ENABLED=yes\n");
        const QString drop = QStringLiteral("DEFAULT_INPUT_POLICY=\"DROP\"\n");
        const auto tuple = [](const char* rule) {
            return QStringLiteral("### tuple ### %1\n").arg(QLatin1String(rule));
        };
        QTest::newRow("inactive") << "ENABLED=no\n" << drop << "-" << Check::Ok;
        QTest::newRow("rules unread") << on << drop << "-" << Check::Unchecked;
        QTest::newRow("rules unread, accepting") << on << "DEFAULT_INPUT_POLICY=\"ACCEPT\""
                                                 << "-" << Check::Ok;
        QTest::newRow("allowed") << on << drop << tuple("allow udp 65002 0.0.0.0/0 any 0.0.0.0/0 in") << Check::Ok;
        QTest::newRow("a range") << on << drop << tuple("allow any 65000:65010 0.0.0.0/0 any 0.0.0.0/0 in")
                                 << Check::Ok;
        QTest::newRow("denied first") << on << drop
                                      << tuple("deny udp 65002 0.0.0.0/0 any 0.0.0.0/0 in") +
                                             tuple("allow udp 65002 0.0.0.0/0 any 0.0.0.0/0 in")
                                      << Check::Problem;
        QTest::newRow("TCP only") << on << drop << tuple("allow tcp 65002 0.0.0.0/0 any 0.0.0.0/0 in")
                                  << Check::Problem;
        QTest::newRow("outgoing only") << on << drop << tuple("allow udp 65002 0.0.0.0/0 any 0.0.0.0/0 out")
                                       << Check::Problem;
    }
    void ufw()
    {
        QFETCH(QString, conf);
        QFETCH(QString, policy);
        QFETCH(QString, rules);
        QFETCH(Check::Status, status);
        const Check check = parse::ufw(conf, policy, rules == "-" ? nullptr : &rules, kPort);
        QVERIFY2(check.status == status, qPrintable(check.text));
        QCOMPARE(check.advice.isEmpty(), status != Check::Problem);
    }

    void nftables_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Check::Status>("status");
        const QByteArray drop = R"({"drop": null})";
        const QByteArray accept = R"({"accept": null})";
        QTest::newRow("no rules") << QByteArray(R"({"nftables": []})") << Check::Ok;
        QTest::newRow("drops the port") << nftRules("input", "accept", {kUdpPort + ", " + drop}) << Check::Problem;
        QTest::newRow("a range in a set") << nftRules("input", "accept", {kPortSet + ", " + drop}) << Check::Problem;
        QTest::newRow("drops everything")
            << nftRules("input", "accept", {R"({"counter": null}, )" + drop}) << Check::Problem;
        QTest::newRow("drops TCP only") << nftRules("input", "accept", {kTcpPort + ", " + drop}) << Check::Ok;
        QTest::newRow("outgoing") << nftRules("output", "drop", {kUdpPort + ", " + drop}) << Check::Ok;
        QTest::newRow("policy drop") << nftRules("input", "drop", {}) << Check::Problem;
        QTest::newRow("policy drop, port accepted")
            << nftRules("input", "drop", {kUdpPort + ", " + accept, drop}) << Check::Ok;
        QTest::newRow("not JSON") << QByteArray("table inet t {") << Check::Unchecked;
    }
    void nftables()
    {
        QFETCH(QByteArray, json);
        QFETCH(Check::Status, status);
        const Check check = parse::nftables(json, kPort);
        QVERIFY2(check.status == status, qPrintable(check.text));
    }
};

TARVIK_TEST_MAIN(TestDiagnose)
#include "tst_diagnose.moc"
