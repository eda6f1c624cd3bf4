// The doctor's look-ups on Linux: /proc for sockets, the reverse-path filter and the routes, which
// every user may read; firewall-cmd, ufw's files and nft, as far as this user may use them.
#include "diagnose.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <optional>

#include <unistd.h>

namespace tarvik::os {

namespace {

std::optional<QString> readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromLocal8Bit(file.readAll());
}

QString dotted(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

int prefixOf(quint32 mask)
{
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)))
        ++n;
    return n;
}

QString subnet(quint32 address, int prefix)
{
    const quint32 mask = prefix <= 0 ? 0 : ~quint32(0) << (32 - prefix);
    return QStringLiteral("%1/%2").arg(dotted(address & mask)).arg(prefix);
}

struct Run
{
    bool started = false;
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments)
{
    Run result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return result;
    result.started = true;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        result.err = QStringLiteral("no answer within 10 s");
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    result.err = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
}

// A program that may sit in a folder that is not in an ordinary user's PATH.
QString findProgram(const QString& name)
{
    QString inPath = QStandardPaths::findExecutable(name);
    if (!inPath.isEmpty())
        return inPath;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

Check firewalld(const QList<CardAddress>& cards, quint16 port)
{
    Check check{Check::Ok, QStringLiteral("firewalld"), {}, {}};
    const QString program = findProgram(QStringLiteral("firewall-cmd"));
    if (program.isEmpty()) {
        check.text = QStringLiteral("not installed");
        return check;
    }
    const Run state = run(program, {QStringLiteral("--state")});
    if (state.started && state.status != 0 && state.out.contains(QLatin1String("not running"))) {
        check.text = QStringLiteral("not running");
        return check;
    }
    if (state.status != 0) {
        check.status = Check::Unchecked;
        check.text =
            QStringLiteral("firewall-cmd --state did not answer: %1").arg(state.err.isEmpty() ? state.out : state.err);
        return check;
    }
    QStringList open;
    QStringList closed;
    QStringList unread;
    const QString portText = QStringLiteral("%1/udp").arg(port);
    for (const CardAddress& card : cards) {
        Run zone = run(program, {QStringLiteral("--get-zone-of-interface=") + card.name});
        if (zone.status != 0) // no zone of its own: the default zone takes it
            zone = run(program, {QStringLiteral("--get-default-zone")});
        if (zone.status != 0 || zone.out.isEmpty()) {
            unread << QStringLiteral("%1 (%2)").arg(card.name, zone.err.isEmpty() ? zone.out : zone.err);
            continue;
        }
        const QString zoneArg = QStringLiteral("--zone=") + zone.out;
        const Run service = run(program, {zoneArg, QStringLiteral("--query-service=tarvik")});
        const Run portOpen = run(program, {zoneArg, QStringLiteral("--query-port=") + portText});
        const QString where = QStringLiteral("zone %1 of %2").arg(zone.out, card.name);
        if (service.status == 0 || portOpen.status == 0 || zone.out == QLatin1String("trusted"))
            open << where;
        else if (service.status == 1 && portOpen.status == 1)
            closed << where;
        else
            unread << QStringLiteral("%1 (%2)").arg(where, portOpen.err.isEmpty() ? service.err : portOpen.err);
    }
    if (!closed.isEmpty()) {
        check.status = Check::Problem;
        check.text = QStringLiteral("running, and the %1 lets in neither the tarvik service nor UDP %2")
                         .arg(closed.join(QStringLiteral(", the ")))
                         .arg(port);
        const QString zone = closed.first().section(QLatin1Char(' '), 1, 1);
        check.advice = QStringLiteral("sudo firewall-cmd --zone=%1 --permanent --add-service=tarvik && sudo "
                                      "firewall-cmd --reload (without the package's service: --add-port=%2)")
                           .arg(zone, portText);
    } else if (!unread.isEmpty()) {
        check.status = Check::Unchecked;
        check.text = QStringLiteral("running; its zones could not be read without privileges: %1; sudo firewall-cmd "
                                    "--list-all shows them")
                         .arg(unread.join(QStringLiteral(", ")));
    } else {
        check.text = QStringLiteral("running; UDP %1 is open in the %2").arg(port).arg(open.join(QStringLiteral(", ")));
    }
    return check;
}

Check nftablesHere(quint16 port)
{
    const QString program = findProgram(QStringLiteral("nft"));
    if (program.isEmpty())
        return {Check::Unchecked,
                QStringLiteral("nftables"),
                QStringLiteral("nft is not installed, so the kernel's packet filter was not read"),
                {}};
    const Run list = run(program, {QStringLiteral("-j"), QStringLiteral("list"), QStringLiteral("ruleset")});
    if (list.status != 0)
        return {Check::Unchecked,
                QStringLiteral("nftables"),
                QStringLiteral("its rules cannot be read without root (%1); sudo nft list ruleset shows them")
                    .arg(list.err.isEmpty() ? QStringLiteral("nft failed") : list.err.section(QLatin1Char('\n'), 0, 0)),
                {}};
    return parse::nftables(list.out.toUtf8(), port);
}

Check ufwHere(quint16 port)
{
    const std::optional<QString> conf = readText(QStringLiteral("/etc/ufw/ufw.conf"));
    if (!conf)
        return {Check::Ok, QStringLiteral("ufw"), QStringLiteral("not installed"), {}};
    const QString defaults = readText(QStringLiteral("/etc/default/ufw")).value_or(QString());
    std::optional<QString> rules = readText(QStringLiteral("/etc/ufw/user.rules"));
    if (rules)
        rules = *rules + readText(QStringLiteral("/etc/ufw/user6.rules")).value_or(QString());
    return parse::ufw(*conf, defaults, rules ? &*rules : nullptr, port);
}

} // namespace

PortHolders udpPortHolders(quint16 port)
{
    PortHolders result;
    QSet<quint64> inodes;
    bool anyTable = false;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        const std::optional<QString> text = readText(QLatin1String(table));
        if (!text)
            continue;
        anyTable = true;
        for (quint64 inode : parse::socketsOnPort(*text, port))
            inodes.insert(inode);
    }
    if (!anyTable) {
        result.error = QStringLiteral("/proc/net/udp cannot be read");
        return result;
    }
    QSet<quint64> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        if (!number || inodes.isEmpty())
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            char target[64] = {};
            const QByteArray path = QFile::encodeName(fdDir + QLatin1Char('/') + fd);
            const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
            if (length <= 0)
                continue;
            const QByteArray link(target, length);
            if (!link.startsWith("socket:["))
                continue;
            const quint64 inode = link.mid(8, link.size() - 9).toULongLong();
            if (inodes.contains(inode) && !found.contains(inode)) {
                found.insert(inode);
                const QString name = readText(QStringLiteral("/proc/%1/comm").arg(pid)).value_or(QString()).trimmed();
                result.seen.append({id, name});
            }
        }
    }
    result.unseen = static_cast<int>(inodes.size() - found.size());
    return result;
}

QList<Check> causesOfSilence(const QList<CardAddress>& cards, quint16 port, const QString& program)
{
    Q_UNUSED(program) // the Linux filters go by port, not by program
    QList<Check> checks;
    const QList<parse::Route> routes = parse::routes(readText(QStringLiteral("/proc/net/route")).value_or(QString()));
    const auto value = [](const QString& path) {
        bool ok = false;
        const int v = readText(path).value_or(QString()).trimmed().toInt(&ok);
        return ok ? v : -1;
    };
    const int all = value(QStringLiteral("/proc/sys/net/ipv4/conf/all/rp_filter"));
    for (const CardAddress& card : cards) {
        const int own = value(QStringLiteral("/proc/sys/net/ipv4/conf/%1/rp_filter").arg(card.name));
        checks << parse::reversePathFilter(card, all < 0 || own < 0 ? -1 : std::max(all, own), routes);
    }
    checks << firewalld(cards, port) << ufwHere(port) << nftablesHere(port);
    return checks;
}

namespace parse {

QList<quint64> socketsOnPort(const QString& table, quint16 port)
{
    QList<quint64> inodes;
    const QString wanted = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    const QStringList lines = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() < 10 || !fields[1].toUpper().endsWith(wanted))
            continue;
        bool ok = false;
        const quint64 inode = fields[9].toULongLong(&ok);
        if (ok && inode != 0)
            inodes << inode;
    }
    return inodes;
}

QList<Route> routes(const QString& table)
{
    QList<Route> result;
    const QStringList lines = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...: addresses as the kernel holds
        // them (network order), printed as a number of this machine's order.
        bool okDestination = false;
        bool okMask = false;
        if (fields.size() < 8)
            continue;
        const quint32 destination = fields[1].toUInt(&okDestination, 16);
        const quint32 mask = fields[7].toUInt(&okMask, 16);
        if (okDestination && okMask)
            result.append({fields[0], qFromBigEndian(destination), qFromBigEndian(mask)});
    }
    return result;
}

Check reversePathFilter(const CardAddress& card, int effective, const QList<Route>& routes)
{
    Check check{Check::Ok, QStringLiteral("rp_filter ") + card.name, {}, {}};
    const QString off =
        QStringLiteral("sudo sysctl -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.%1.rp_filter=0").arg(card.name);
    if (effective < 0) {
        check.status = Check::Unchecked;
        check.text = QStringLiteral("/proc/sys/net/ipv4/conf/%1/rp_filter cannot be read").arg(card.name);
        return check;
    }
    bool defaultHere = false;
    bool defaultAnywhere = false;
    QStringList here;
    for (const Route& route : routes) {
        if (route.mask == 0) {
            defaultAnywhere = true;
            defaultHere = defaultHere || route.card == card.name;
        } else if (route.card == card.name) {
            here << subnet(route.destination, prefixOf(route.mask));
        }
    }
    const QString own = subnet(card.address, card.prefixLength);
    if (!here.contains(own))
        here.prepend(own);
    if (effective == 0) {
        check.text = QStringLiteral("off (0): replies from modules in any subnet are let in");
    } else if (effective == 1 && defaultHere) {
        check.text =
            QStringLiteral("strict (1), and the default route goes through %1: replies from other subnets are let in")
                .arg(card.name);
    } else if (effective == 1) {
        check.status = Check::Problem;
        check.text = QStringLiteral("strict (1), and no default route goes through %1: the kernel drops replies from "
                                    "a module outside %2")
                         .arg(card.name, here.join(QStringLiteral(", ")));
        check.advice =
            QStringLiteral("give %1 an address in the module's subnet, or turn the filter off: %2").arg(card.name, off);
    } else if (defaultAnywhere) {
        check.text = QStringLiteral("loose (%1), and there is a default route: replies from other subnets are let in")
                         .arg(effective);
    } else {
        check.status = Check::Problem;
        check.text = QStringLiteral("loose (%1), and there is no default route: the kernel drops replies from a "
                                    "module in a subnet no route leads to (%2 has routes to %3)")
                         .arg(effective)
                         .arg(card.name, here.join(QStringLiteral(", ")));
        check.advice =
            QStringLiteral("give %1 an address in the module's subnet, or turn the filter off: %2").arg(card.name, off);
    }
    return check;
}

namespace {

// Whether a ufw port field ("65002", "any", "65000:65010", "80,65002") covers `port`.
bool coversPort(const QString& field, quint16 port)
{
    if (field == QLatin1String("any"))
        return true;
    for (const QString& part : field.split(QLatin1Char(','))) {
        const QStringList range = part.split(QLatin1Char(':'));
        const uint low = range.value(0).toUInt();
        const uint high = range.size() > 1 ? range[1].toUInt() : low;
        if (port >= low && port <= high)
            return true;
    }
    return false;
}

QString setting(const QString& text, const QString& key)
{
    const QRegularExpression line(QStringLiteral("^\\s*%1\\s*=\\s*\"?([^\"\\s]*)\"?").arg(key),
                                  QRegularExpression::MultilineOption);
    return line.match(text).captured(1);
}

} // namespace

Check ufw(const QString& conf, const QString& defaults, const QString* rules, quint16 port)
{
    Check check{Check::Ok, QStringLiteral("ufw"), {}, {}};
    if (setting(conf, QStringLiteral("ENABLED")).compare(QLatin1String("yes"), Qt::CaseInsensitive) != 0) {
        check.text = QStringLiteral("inactive");
        return check;
    }
    const QString allow = QStringLiteral("sudo ufw allow %1/udp").arg(port);
    const QString policy = setting(defaults, QStringLiteral("DEFAULT_INPUT_POLICY")).toUpper();
    if (!rules) {
        check.status = policy == QLatin1String("ACCEPT") ? Check::Ok : Check::Unchecked;
        check.text = policy == QLatin1String("ACCEPT")
                         ? QStringLiteral("active, and it lets in what no rule refuses")
                         : QStringLiteral("active; its rules cannot be read without root: sudo ufw status shows them "
                                          "(%1 opens the port)")
                               .arg(allow);
        return check;
    }
    // "### tuple ### ACTION PROTO DPORT DST SPORT SRC [DAPP SAPP] DIRECTION", in the order ufw
    // applies them: the first that covers the port decides.
    for (const QString& line : rules->split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("### tuple ###")))
            continue;
        const QStringList t = line.mid(13).simplified().split(QLatin1Char(' '));
        if (t.size() < 7 || !t.last().startsWith(QLatin1String("in")))
            continue;
        if ((t[1] != QLatin1String("udp") && t[1] != QLatin1String("any")) || !coversPort(t[2], port))
            continue;
        if (t[0].startsWith(QLatin1String("allow"))) {
            check.text = QStringLiteral("active, and a rule allows UDP %1 (%2 from %3)").arg(port).arg(t[2], t[5]);
            return check;
        }
        check.status = Check::Problem;
        check.text =
            QStringLiteral("active, and a rule refuses UDP %1 (%2 %3 from %4)").arg(port).arg(t[0], t[2], t[5]);
        check.advice =
            QStringLiteral("delete that rule (sudo ufw status numbered; sudo ufw delete N), then %1").arg(allow);
        return check;
    }
    if (policy == QLatin1String("ACCEPT")) {
        check.text = QStringLiteral("active, and it lets in what no rule refuses");
        return check;
    }
    check.status = Check::Problem;
    check.text = QStringLiteral("active, and no rule allows UDP %1 (what no rule allows is refused)").arg(port);
    check.advice = allow;
    return check;
}

namespace {

bool valueCovers(const QJsonValue& value, quint16 port)
{
    if (value.isDouble())
        return value.toInt() == port;
    const QJsonObject object = value.toObject();
    if (object.contains(QLatin1String("range"))) {
        const QJsonArray range = object.value(QLatin1String("range")).toArray();
        return port >= range.at(0).toInt() && port <= range.at(1).toInt();
    }
    if (object.contains(QLatin1String("set"))) {
        for (const QJsonValue item : object.value(QLatin1String("set")).toArray()) {
            if (valueCovers(item, port))
                return true;
        }
    }
    return false;
}

// What one rule does to a datagram to `port`.
struct RuleEffect
{
    enum Verdict
    {
        None,
        Accept,
        Drop
    } verdict = None;
    bool matchesPort = false; // it names the port (or a set or range with it)
    bool otherConditions = false;
    bool excludesPort = false; // a port match the datagram fails
};

RuleEffect effectOf(const QJsonArray& expressions, quint16 port)
{
    RuleEffect effect;
    for (const QJsonValue item : expressions) {
        const QJsonObject e = item.toObject();
        if (e.contains(QLatin1String("accept")))
            effect.verdict = RuleEffect::Accept;
        else if (e.contains(QLatin1String("drop")) || e.contains(QLatin1String("reject")))
            effect.verdict = RuleEffect::Drop;
        else if (e.contains(QLatin1String("match"))) {
            const QJsonObject match = e.value(QLatin1String("match")).toObject();
            const QJsonObject payload =
                match.value(QLatin1String("left")).toObject().value(QLatin1String("payload")).toObject();
            const QString protocol = payload.value(QLatin1String("protocol")).toString();
            if (payload.value(QLatin1String("field")).toString() == QLatin1String("dport") &&
                (protocol == QLatin1String("udp") || protocol == QLatin1String("th"))) {
                const bool covers = valueCovers(match.value(QLatin1String("right")), port);
                const bool negated = match.value(QLatin1String("op")).toString() == QLatin1String("!=");
                if (covers != negated)
                    effect.matchesPort = true;
                else
                    effect.excludesPort = true;
            } else if (protocol == QLatin1String("tcp")) {
                effect.excludesPort = true; // a TCP rule: not about datagrams
            } else {
                effect.otherConditions = true;
            }
        } else if (!e.contains(QLatin1String("counter"))) {
            effect.otherConditions = true; // jumps, logging, limits, ...
        }
    }
    return effect;
}

} // namespace

Check nftables(const QByteArray& json, quint16 port)
{
    Check check{Check::Ok, QStringLiteral("nftables"), {}, {}};
    QJsonParseError error{};
    const QJsonArray items = QJsonDocument::fromJson(json, &error).object().value(QLatin1String("nftables")).toArray();
    if (error.error != QJsonParseError::NoError) {
        check.status = Check::Unchecked;
        check.text = QStringLiteral("nft's list of rules could not be read: %1").arg(error.errorString());
        return check;
    }
    struct Chain
    {
        QString name; // "inet filter input"
        bool dropsByPolicy = false;
        bool decided = false;
        QString problem;
    };
    QList<Chain> chains;
    const auto key = [](const QJsonObject& o, const QString& chain) {
        return o.value(QLatin1String("family")).toString() + QLatin1Char(' ') +
               o.value(QLatin1String("table")).toString() + QLatin1Char(' ') + chain;
    };
    for (const QJsonValue item : items) {
        const QJsonObject chain = item.toObject().value(QLatin1String("chain")).toObject();
        const QString hook = chain.value(QLatin1String("hook")).toString();
        if (hook == QLatin1String("input") || hook == QLatin1String("prerouting"))
            chains.append({key(chain, chain.value(QLatin1String("name")).toString()),
                           chain.value(QLatin1String("policy")).toString() == QLatin1String("drop"),
                           false,
                           {}});
    }
    for (const QJsonValue item : items) {
        const QJsonObject rule = item.toObject().value(QLatin1String("rule")).toObject();
        if (rule.isEmpty())
            continue;
        const QString name = key(rule, rule.value(QLatin1String("chain")).toString());
        auto chain = std::find_if(chains.begin(), chains.end(), [&](const Chain& c) { return c.name == name; });
        if (chain == chains.end() || chain->decided)
            continue;
        const RuleEffect effect = effectOf(rule.value(QLatin1String("expr")).toArray(), port);
        if (effect.excludesPort || effect.verdict == RuleEffect::None)
            continue;
        const QString handle = QString::number(rule.value(QLatin1String("handle")).toInt());
        if (effect.verdict == RuleEffect::Accept && effect.matchesPort && !effect.otherConditions) {
            chain->decided = true;
        } else if (effect.verdict == RuleEffect::Drop && (effect.matchesPort || !effect.otherConditions)) {
            chain->decided = true;
            chain->problem =
                QStringLiteral("the chain %1 drops UDP %2%3 (rule handle %4)")
                    .arg(name)
                    .arg(port)
                    .arg(effect.otherConditions ? QStringLiteral(" under some conditions") : QString(), handle);
        }
    }
    QStringList problems;
    QString first;
    for (const Chain& chain : std::as_const(chains)) {
        if (!chain.problem.isEmpty())
            problems << chain.problem;
        else if (!chain.decided && chain.dropsByPolicy)
            problems << QStringLiteral("the chain %1 drops what no rule accepts, and no rule accepts UDP %2")
                            .arg(chain.name)
                            .arg(port);
        else
            continue;
        if (first.isEmpty())
            first = chain.name;
    }
    if (problems.isEmpty()) {
        check.text = chains.isEmpty() ? QStringLiteral("no chain filters what arrives")
                                      : QStringLiteral("no chain that filters what arrives drops UDP %1").arg(port);
        return check;
    }
    check.status = Check::Problem;
    check.text = problems.join(QStringLiteral("; "));
    check.advice = QStringLiteral("let the replies in: sudo nft insert rule %1 udp dport %2 accept, or open the "
                                  "port in the firewall that made these rules")
                       .arg(first)
                       .arg(port);
    return check;
}

} // namespace parse

} // namespace tarvik::os
