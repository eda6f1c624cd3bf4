// What is wrong with a plant of modules, from the values read: fields that drifted from the plan
// the plant was commissioned with, and settings that cannot work together on one LAN (two modules
// with one address, a module with the PC's address, a mask with holes, a gateway outside the
// module's subnet, two channels listening on one port, a destination that is no other host).
// Pure functions over parameter values; the fields they look at are found through the table.
#pragma once

#include "link/link.h"
#include "ops/paramfile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik::audit {

enum class Kind
{
    Drift,       // a field differs from the plan
    Missing,     // in the plan, and did not answer the scan
    Unlisted,    // answered the scan, and the plan does not name it
    SameAddress, // two or more modules with one S_IP
    PcAddress,   // a module's S_IP is an address of this PC's cards
    Mask,        // MASK is not a run of ones followed by zeros
    SubnetEdge,  // S_IP is the network or the broadcast address of its own subnet
    Gateway,     // G_IP (not 0.0.0.0) lies outside S_IP/MASK
    SamePort,    // two open channels of one module listen on one local port
    Destination, // a channel that sends (TCP client, UDP) has 0.0.0.0 or the module's own S_IP as destination
};

// The kind as --json names it ("same-address").
QString kindName(Kind kind);

struct Finding
{
    Kind kind = Kind::Drift;
    QList<QByteArray> ids; // the modules concerned, six bytes each
    QStringList fields;    // the fields concerned (none for Missing, Unlisted)
    QString expected;      // Drift: the plan's value; otherwise empty
    QString actual;        // what the module holds (Drift, SameAddress, PcAddress, ...)
    QString message;       // one line for people: "001A2B3C4D5E: Ch4_D_Port: commissioned 7000, module holds 05004"
};

// Settings of the modules read that cannot work: among them, and against this PC's cards.
QList<Finding> conflicts(const QList<paramfile::ModuleValues>& modules, const QList<Card>& cards);

// The modules read against a plan (a parameter file): a file keyed by identity gives each module its
// own entry, a file of one set applies to every module. Fields are compared as a write's read-back
// compares them (numbers by value). With `everyModule` (--all), a module of the plan that is not
// among `answered` and one read that the plan does not name are findings too. `planName` names the
// file in the messages.
QList<Finding> drift(const QList<paramfile::ModuleValues>& modules, const paramfile::Result& plan,
                     const QList<QByteArray>& answered, bool everyModule, const QString& planName);

// An S_IP as a write's check sees it: one about to be set, or one a module holds.
struct Address
{
    QByteArray identity;
    QString address;
    bool toBeWritten = false;
};

// The addresses a write is about to set that clash: with each other, with an address another
// module holds, with this PC's cards. Addresses that merely are as they were do not clash.
QList<Finding> clashes(const QList<Address>& addresses, const QList<Card>& cards);

} // namespace tarvik::audit
