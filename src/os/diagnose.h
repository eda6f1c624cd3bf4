// What the system can tell about why the modules' replies do not reach the tool, for tarvik-cli
// doctor: which program holds a UDP port, and on Linux the reverse-path filter with the routes,
// firewalld, ufw and nftables, on Windows the firewall's profiles and rules. Each look-up says what
// it found, or that it could not look (and why: most often, privileges), never a guess.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik::os {

// One line of the doctor's report.
struct Check
{
    enum Status
    {
        Ok,
        Problem,
        Unchecked // could not check, and `text` says why
    };
    Status status = Ok;
    QString check;  // what was checked: "port 65002", "card eth0", "rp_filter eth0", "firewalld", ...
    QString text;   // what was found
    QString advice; // for a problem: what to do
};

// The programs that hold a UDP port, as far as this user can see them.
struct PortHolders
{
    struct Holder
    {
        qint64 pid = 0;
        QString name;
    };
    QList<Holder> seen;
    int unseen = 0; // sockets on the port whose program this user may not look at
    QString error;  // the table of sockets could not be read at all
};
PortHolders udpPortHolders(quint16 port);

// A card the scan went through: its index, its system name and IPv4 address with its prefix length.
struct CardAddress
{
    int index = 0;
    QString name;        // the system's ("eth0", on Windows "ethernet_32769")
    QString label;       // the one people see ("Ethernet 2"; elsewhere the same)
    quint32 address = 0; // host order
    int prefixLength = 32;
};

// The likely causes on this system, checked where it lets this user check them, why datagrams to
// UDP `port` do not arrive on `cards`. `program`: the running program's path (a firewall rule may
// be for it alone).
QList<Check> causesOfSilence(const QList<CardAddress>& cards, quint16 port, const QString& program);

// The pieces of the Linux look-ups that read text, apart from where the text comes from (for the
// tests): /proc/net/udp and udp6, /proc/net/route, ufw's files, `nft -j list ruleset`.
namespace parse {

// The socket inodes bound to local UDP `port` in a /proc/net/udp or /proc/net/udp6 table.
QList<quint64> socketsOnPort(const QString& table, quint16 port);

struct Route
{
    QString card;
    quint32 destination = 0; // host order
    quint32 mask = 0;
};
QList<Route> routes(const QString& table);

// The reverse-path filter of `card` (effective: the larger of `all` and the card's own, -1 when
// unread) against the routes: what it does to a reply from another subnet.
Check reversePathFilter(const CardAddress& card, int effective, const QList<Route>& routes);

// ufw from the texts of /etc/ufw/ufw.conf, /etc/default/ufw and its rules (`rules` null: they
// could not be read).
Check ufw(const QString& conf, const QString& defaults, const QString* rules, quint16 port);

// nftables from `nft -j list ruleset`: a chain of the input hook that drops `port`, or drops what
// no rule accepts while none accepts it.
Check nftables(const QByteArray& json, quint16 port);

} // namespace parse

} // namespace tarvik::os
