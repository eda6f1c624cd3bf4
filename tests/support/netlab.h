// Networks that an end-to-end test builds for itself: the test moves into a network namespace of
// its own (the tool's side, no route at all), and each module network is another namespace joined
// to it by a veth pair, or a bridge that two of the test's cards share. Every link is named tvk...,
// which the simulator's namespace guard accepts as a test's or the demo's own.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik::test {

class NetLab
{
public:
    // Moves this process into a network namespace of its own with only the loopback (down until
    // `ip link set lo up`) and no route. Call it first in main(), before any thread starts; false
    // with the reason when the system does not allow it (then the tests that need it skip).
    static bool enterOwnNamespace(QString* why);

    NetLab() = default;
    ~NetLab();
    NetLab(const NetLab&) = delete;
    NetLab& operator=(const NetLab&) = delete;

    // A new, empty network namespace (only its loopback, up), held open by the returned file
    // descriptor; -1 on failure.
    int addNamespace();
    // Runs `ip ARGS` in namespace `netns` (-1: this process's own); false, with a warning, on failure.
    bool ip(const QStringList& args, int netns = -1);

    // A module network behind card `card` of the test: a veth pair `card` (address `ownAddress`)
    // <-> `card`m in a new namespace (address `moduleAddress`, default route over it). Returns the
    // namespace's descriptor, -1 on failure.
    int addNetwork(const QString& card, const QString& ownAddress, const QString& moduleAddress);
    // One LAN reached through two cards of the test: veth pairs `cardA` <-> `cardA`m and `cardB`
    // <-> `cardB`m, both m ends on the bridge tvkbr in a new namespace that has `moduleAddress`.
    int addSharedNetwork(const QString& cardA, const QString& ownAddressA, const QString& cardB,
                         const QString& ownAddressB, const QString& moduleAddress);

    // The index of a card of the test; 0 when there is none.
    static int cardIndex(const QString& card);
    // The lines of `ip -4 route show` in this process's namespace.
    static QStringList routes();

private:
    QList<int> m_namespaces;
    QStringList m_cards; // links made in this process's namespace
};

} // namespace tarvik::test
