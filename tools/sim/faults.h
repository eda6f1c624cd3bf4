// Misbehaviour on demand: which replies a simulated module loses, delays, repeats, cuts short,
// refuses or replaces, so that the tool's time-outs, retries and checks can be tried.
#pragma once

#include "module.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <optional>
#include <vector>

namespace tarvik::sim {

// Which datagrams a rule applies to. Written as:
//   all       every datagram the module takes, "SETUP" included
//   N         the N-th datagram the module takes (1-based; "SETUP" and commands alike)
//   KEY       every request with that key:
//               SETUP, END, DF (restore defaults), AT (a malformed command),
//               a code such as ET or PT1 (its query and its setting), ET? (query only), ET= (setting only),
//               * (every command, not "SETUP"), *? (every query), *= (every setting)
//   KEY#K     only the K-th request with that key (1-based)
struct Match
{
    enum Kind
    {
        All,
        Nth,
        Key
    };
    Kind kind = All;
    int nth = 0;
    QByteArray key;
    int occurrence = 0; // 0: every one

    static std::optional<Match> parse(const QString& text, QString* error = nullptr);
    bool keyMatches(const QByteArray& requestKey) const;
    QString toString() const;
};

struct Rule
{
    enum Action
    {
        Drop,      // the reply is lost
        Delay,     // the reply leaves `amount` ms late
        Duplicate, // the reply is sent `amount` times
        Truncate,  // only the first `amount` bytes of the reply are sent
        Refuse,    // the request is answered "ER" and changes nothing
        Answer,    // a query is answered with `text` after the identity instead of the stored value
    };
    Action action = Drop;
    Match match;
    int amount = 0;
    QByteArray text;
};

struct FaultPlan
{
    bool silent = false; // answer nothing at all
    QList<Rule> rules;
    // Replies lost at random, this many per million; the same seed loses the same replies.
    int lossPerMillion = 0;
    quint32 lossSeed = 1;

    bool isEmpty() const { return !silent && rules.isEmpty() && lossPerMillion == 0; }
};

// Parses "MS" or "MS:WHICH" (delay, truncate), "CODE=TEXT" or "CODE#K=TEXT" (answer; TEXT may
// hold \xHH escapes). nullopt and `error` on a bad text.
std::optional<Rule> parseRule(Rule::Action action, const QString& text, QString* error = nullptr);
QByteArray unescape(const QString& text);
// Parses "PERCENT" or "PERCENT:SEED" (random loss; PERCENT from 0 to 100, fractions allowed).
bool parseLoss(const QString& text, FaultPlan* plan, QString* error = nullptr);

// One reply as it goes on the wire.
struct Outgoing
{
    QByteArray bytes;
    int delayMs = 0;
    int copies = 1;
};

// What became of one datagram at one module.
struct Handled
{
    bool taken = false; // the datagram was for this module and it acted on it
    Request request;
    std::optional<Outgoing> reply; // nothing when the module does not answer or the reply is lost
    bool dropped = false;          // a reply was made and then lost by a rule
};

// A module together with the faults it is told to show; counts the datagrams it takes.
class FaultyModule
{
public:
    FaultyModule(Module module, const FaultPlan* plan);

    Module& module() { return m_module; }
    const Module& module() const { return m_module; }
    int taken() const { return m_taken; }

    Handled receive(const QByteArray& datagram);

private:
    Module m_module;
    const FaultPlan* m_plan;
    int m_taken = 0;
    std::vector<int> m_keyCounts; // per rule: requests seen with its key
    QRandomGenerator m_loss;      // one sequence per module
};

} // namespace tarvik::sim
