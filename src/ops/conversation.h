// A conversation with one module: the one core that talks to the modules, driven by the window (one
// conversation at a time, with the selected module) and by tarvik-cli's engine (many at once).
//
// Requests go out one at a time; each waits kReplyTimeoutMs for its reply. A reply names no request,
// and every PC on the LAN hears every module's replies, so a datagram is taken as the answer only when
// it passes the reply rule (replyrule.h) and nothing else could have sent it:
//  - a copy of an earlier reply that may still come (its request was sent more often than answered)
//    is not taken: it is that late copy. The count is kept by the bytes of the replies, so that two
//    parameters holding one value share their copies;
//  - an acknowledgement is taken for the setting in flight, but while an earlier setting's may still
//    come it is not certain which it is; restoring defaults does not take it then at all.
// Never a success in doubt. A read during which anything unexpected happened — a time-out, a datagram
// of the module's that was not taken, a late copy, an answer that may be someone else's (without the
// module's identity, or equal to its discovery reply), requests still unanswered from before — is not
// reported as success until a further pass, in an order in which no two neighbours share a reply
// layout, gives the same values as an earlier pass. A write in doubt is read back and compared.
// Nothing is ever taken at a deadline: at the deadline the exchange has gone unanswered, and the retry
// rule of the front end applies (the window starts the whole read or write again, tarvik-cli repeats
// the one request).
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/decode.h"
#include "ops/device.h"
#include "ops/paramfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <QPair>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tarvik::talk {

// What a conversation needs of the world.
class Port
{
public:
    virtual ~Port() = default;
    // Hands a frame to the network through `card` (kAnyCard: the routing table); false on a send error.
    virtual bool send(const QByteArray& frame, int card) = 0;
    // The system's reason why the last send failed.
    virtual QString sendError() const { return {}; }
    // The conversation's time-out: arming restarts the countdown, stopping cancels a pending expiry.
    virtual void arm(int milliseconds) = 0;
    virtual void stop() = 0;
    // A monotonic clock, in milliseconds.
    virtual qint64 now() const = 0;
};

enum class Task : quint8
{
    Read,
    Write,
    Defaults,
    Reset
};

// How an unanswered request is asked again.
enum class Retry : quint8
{
    RestartPass,    // the window: the whole read or write starts again from its first request
    RepeatExchange, // tarvik-cli: that one request goes out again
};

// One request of a conversation.
struct Step
{
    enum Kind : quint8
    {
        Query,
        Setting,
        Defaults,
        Reset
    } kind = Query;
    const Parameter* parameter = nullptr; // Query and Setting
};

struct Plan
{
    Task task = Task::Read;
    Retry retry = Retry::RepeatExchange;
    // Read: the parameters, in the order of the first pass. Write: the settings, in the order they
    // go out; their values come from Listener::valueFor() as each is built.
    std::vector<const Parameter*> order;
    // Write: when what was set is read back and compared.
    enum class Verify : quint8
    {
        InDoubt, // only after anything unexpected happened (the window, tarvik-cli --no-verify)
        Always,
    } verify = Verify::InDoubt;
    // Defaults: then every parameter is read, and reported.
    bool readAfterDefaults = false;
};

// How a conversation ended.
struct Result
{
    enum Ending : quint8
    {
        Succeeded,
        Refused,    // an acknowledgement other than "OK": of `parameter`'s setting, or (nullptr) of restoring defaults
        NoReply,    // `parameter`'s request (nullptr: restoring defaults) went unanswered after its attempts
        NotSent,    // ... and not one of its attempts could be sent: `sendError` says why
        Unsendable, // a setting whose frame cannot be built (a character outside ASCII)
        Garbled,    // the module answered `parameter`'s query, but not with digits where the value has them
        Unsettled,  // no two passes of a read gave the same values
        Mismatch,   // a write read back: the module does not hold every value set (`mismatches`)
    } ending = Succeeded;
    const Parameter* parameter = nullptr;
    int attempts = 0;      // of the request it ended at
    QString sendError;     // NotSent
    QByteArray garbled;    // Garbled: the module's reply
    int retries = 0;       // requests sent again: repeats, restarts counted by the requests they sent
    int passes = 0;        // read passes completed (a second one confirms a read in doubt)
    bool readBack = false; // a write: what was set was read back, and matched (with Succeeded)
    // The values taken: a read's (the pass that was confirmed), a write's read-back, restoring
    // defaults' read. A drop-down answered out of range has no value and is in `outOfRange`.
    paramfile::Values values;
    QList<QPair<const Parameter*, QByteArray>> outOfRange; // with the reply's value bytes
    QList<const Parameter*> mismatches;                    // Mismatch: the module holds another value
    paramfile::Values sent;                                // a write: the values that went out

    bool ok() const { return ending == Succeeded; }
};

// What a front end hears of its conversation.
class Listener
{
public:
    virtual ~Listener() = default;
    // A request goes out: its `attempt` (1 for the first), and whether it follows the answer to the
    // one before (progress).
    virtual void sending(const Step& step, int attempt, bool afterAnswer)
    {
        Q_UNUSED(step);
        Q_UNUSED(attempt);
        Q_UNUSED(afterAnswer);
    }
    // A read pass begins: the first, one started again, or one that confirms the one before.
    virtual void passBegins() {}
    // A setting's value, read as its frame is built (the window reads its field as it stands then).
    virtual frames::FieldValue valueFor(const Parameter& parameter) = 0;
    // A read reply was taken: the value (Entry, Text, or Rejected: a drop-down's digit out of range).
    virtual void taken(const Parameter& parameter, const decode::Value& value)
    {
        Q_UNUSED(parameter);
        Q_UNUSED(value);
    }
    virtual void finished(const Result& result) = 0;
};

// Some of the parameters, a bit each (by their index in the table; -1: none).
using ParameterBits = quint64;
static_assert(kParameterCount <= 64, "one bit per parameter");
constexpr ParameterBits bitOf(int parameter)
{
    return parameter < 0 ? ParameterBits(0) : ParameterBits(1) << parameter;
}

// The late replies a module may still send: the requests sent to it that nothing has answered yet.
// Kept across the operations with one module, for as long as a reply may still come.
class Ledger
{
public:
    // Replies later than this after their request are given up for lost.
    static constexpr qint64 kLateReplyMs = 5000;

    void forget() { *this = Ledger(); }
    // Whether anything sent may still bring a datagram, or an acknowledgement nothing owed still counts.
    bool owesAnything(qint64 nowMs);
    void sent(const Step& step, qint64 nowMs);
    // Whether `datagram`, fit to answer `awaited`'s query, may instead be a late copy of another
    // parameter's reply: one with these bytes is still owed.
    bool isOwedCopy(int awaited, const QByteArray& datagram, qint64 nowMs);
    // The datagram is counted as the late copy of one owed. Returns whether it settled a request (not
    // a network's copy of a reply that came).
    bool copyArrived(int awaited, const QByteArray& datagram, qint64 nowMs);
    // The reply to `parameter`'s query: one of its requests is answered, and the rest owe these bytes.
    // `surely`: these are its bytes; otherwise a datagram that may be someone else's was taken for
    // its answer (the module's discovery reply, another query's late reply), and what its other
    // requests owe is not known.
    void answered(int parameter, const QByteArray& datagram, qint64 nowMs, bool surely = true);
    // Whether a reply to `parameter`'s query was taken before.
    bool knows(int parameter) const { return !m_parameters[static_cast<size_t>(parameter)].known.isNull(); }
    // Whether it was taken, and with these bytes.
    bool knowsAs(int parameter, const QByteArray& datagram) const
    {
        return knows(parameter) && m_parameters[static_cast<size_t>(parameter)].known == datagram;
    }
    // Its reply came cut short: that request owes nothing any more.
    void spoilt(int parameter);
    // Acknowledgements: how many may still come (the requests answered by one, settings and
    // restoring defaults, that still owe it; on a network that copies, copies of those that came),
    // and one that came.
    int acknowledgementsOwed(qint64 nowMs);
    void acknowledgementArrived(qint64 nowMs);
    // A datagram of the module's that answers nothing in flight: counted against a request that owes
    // it, when one does.
    void strayArrived(int awaited, const QByteArray& datagram, qint64 nowMs);
    // Whether an acknowledgement came lately that no request owed: the network repeats them, or
    // another PC sets the module.
    bool unowedAcknowledgementHeard(qint64 nowMs) const;
    // Whether that, or an acknowledgement came lately while several were owed: how many are still to
    // come is not certain.
    bool acknowledgementsUncertain(qint64 nowMs) const;
    // A datagram of the module's, before anything else is made of it.
    void heard(const QByteArray& datagram);
    // The network copies datagrams: every reply (an answer or a late one) also comes a second time.
    void setCopying(bool copying) { m_copying = copying; }
    // Whether a query other than `besides` (-1: any) still owes a reply whose bytes are not known yet:
    // a datagram that comes now may be that reply.
    bool owesUnknown(int besides, qint64 nowMs);
    // From when on no query other than `awaited` can still send a reply of these bytes (`nowMs`: none
    // can now).
    qint64 quietAt(int awaited, const QByteArray& datagram, qint64 nowMs);
    // From when on no request can still bring a reply whose bytes are not known for certain.
    qint64 unknownQuietAt(qint64 nowMs);

private:
    void expire(qint64 nowMs);
    struct Parameter
    {
        QByteArray known;     // its reply, once one was taken
        bool surely = true;   // and those bytes are surely its own
        QList<qint64> owed;   // when its unanswered requests were sent, oldest first
        QList<qint64> copies; // when replies came whose copies are still to come (a network that copies)
    };
    bool settle(size_t i, qint64 nowMs);
    void updateOwing(size_t i)
    {
        const bool owes = !m_parameters[i].owed.isEmpty() || !m_parameters[i].copies.isEmpty();
        m_owing = owes ? m_owing | bitOf(static_cast<int>(i)) : m_owing & ~bitOf(static_cast<int>(i));
    }
    std::array<Parameter, kParameterCount> m_parameters;
    // The parameters that may still bring a datagram: most datagrams need no look further.
    ParameterBits m_owing = 0;
    bool m_copying = false;
    QList<qint64> m_acknowledgements;         // when the unanswered settings and restores were sent
    QList<qint64> m_acknowledgementCopies;    // when acknowledgements came whose copies are still to come
    qint64 m_oldest = -1;                     // no later than the oldest of them all (-1: none owed)
    qint64 m_unowedAcknowledgement = -1;      // when the last acknowledgement came that nothing owed
    qint64 m_acknowledgementsCountedOff = -1; // when the last came while several were owed
};

class Conversation
{
public:
    Conversation(Port& port, Listener& listener);

    // The module talked to. Another module's replies owe nothing to its requests: its own ledger is
    // taken up again (kept while the module may still send), or a fresh one.
    void setDevice(const Device& device);
    const Device& device() const { return m_device; }
    // Whether answers without the module's identity may be taken while it has not shown it (they
    // are then in doubt): the window allows it, tarvik-cli only for a module it handles alone.
    void setUnidentifiedAllowed(bool allowed) { m_unidentifiedAllowed = allowed; }
    // Whether `identity` is that of a listed module (its replies answer no other module).
    void setListed(std::function<bool(QByteArrayView)> isListed) { m_isListed = std::move(isListed); }

    // Starts a task; the first request goes out at once.
    void start(const Plan& plan);
    // The window's restart after a time-out: the pass (or the write) starts again from its first
    // request, the ledger and what the passes before took kept.
    void restartPass();
    // Ends the conversation quietly (a scan overtook it, the module left the list): nothing awaited.
    void abandon();

    bool isActive() const { return m_phase != Phase::Idle; }
    // The request whose answer is awaited (valid while active).
    const Step& awaited() const { return m_step; }
    int attempts() const { return m_attempts; }
    // Restarts made of the current read or write (the window's Retry_Count).
    int restarts() const { return m_restarts; }
    // Whether the next expiry ends the conversation: the attempts allowed are spent.
    bool spent() const;
    // Datagrams taken as answers, and requests sent, since the task began.
    int answers() const { return m_answers; }
    int sends() const { return m_sends; }

    // A datagram arrived on `card`. Judged, taken or not (and why not, under tarvik.wire); may send
    // the next request or end the conversation. Returns whether it was taken.
    bool arrival(const QByteArray& datagram, int card);
    // Whether `datagram` would answer the request in flight but for the module's identity: the sign
    // of a module that leaves it out.
    bool fitsWithoutIdentity(const QByteArray& datagram, int card) const;
    // The time-out expired. Returns true when the front end is to start its request again
    // (Retry::RestartPass with restarts left: the window's Device_List_Click or Setting_Click,
    // which calls restartPass()); otherwise the conversation has repeated the request or ended.
    bool expired();

    // Whether a request to the module with `identity` still owes a reply of these bytes: whatever
    // else it looks like, it is that late reply.
    bool owesReply(QByteArrayView identity, const QByteArray& datagram);

    Ledger& ledger() { return m_ledger; }

private:
    enum class Phase : quint8
    {
        Idle,
        Settings,
        Defaults,
        Reading,
        Reset,
    };
    using Pass = std::array<std::optional<decode::Value>, kParameterCount>;

    Step currentStep() const;
    void beginRead(std::vector<const Parameter*> order, bool extra);
    void beginPass();
    // A confirming pass begins once no request still owes a reply of bytes not known for certain:
    // until then, any answer may be such a reply.
    void confirmWhenQuiet();
    void send(bool afterAnswer);
    void next();
    void passComplete();
    void beginSettings();
    void settingsComplete();
    void take(const QByteArray& datagram);
    void doubt() { m_doubtful = true; }
    void finish(Result::Ending ending);
    std::vector<const Parameter*> confirmationOrder() const;
    // The request in flight starts afresh: nothing sent, nothing set aside, nothing held back.
    void beginRequest();
    // Whether the request in flight may go out once more (its repeats, not its asks again, count).
    bool repeatsLeft() const;
    bool attemptsLeft() const;
    bool repeatsExchanges() const;

    Port& m_port;
    Listener& m_listener;
    Device m_device;
    bool m_unidentifiedAllowed = false;
    std::function<bool(QByteArrayView)> m_isListed;
    Ledger m_ledger;
    // The ledgers of the modules talked to before, while they may still send: for a return to one.
    std::vector<std::pair<QByteArray, Ledger>> m_setAside;
    // The ledger as it was before datagrams without the module's identity counted in it, while it has
    // not shown its identity (requests sent since counted in): if it then shows it, they were not its.
    std::optional<Ledger> m_beforeUnidentified;

    Plan m_plan;
    Phase m_phase = Phase::Idle;
    std::vector<const Parameter*> m_order; // of the phase: the settings, or the pass's queries
    size_t m_index = 0;
    Step m_step;
    int m_attempts = 0; // of the request in flight
    int m_unsent = 0;   // of those, the ones that could not be sent
    bool m_unbuildable = false;
    bool m_ateCopy = false; // a copy or an earlier request's acknowledgement was set aside in its place
    int m_askedAgain = 0;   // of its requests, those asked again because of a late copy: not attempts
    QByteArray m_wary;      // the bytes of a late copy set aside in its place: asked again when none can come
    bool m_waiting = false; // until then: the request is held back
    bool m_waitedAfterAnswer = false;
    QString m_sendError;
    QByteArray m_garbled;     // the module's reply to the query in flight that was not digits
    QByteArray m_lastTaken;   // the last datagram taken as an answer
    bool m_takenLast = false; // and nothing that may be the module's came after it, nor a time-out
    bool m_quieting = false;  // a confirming pass waits (confirmWhenQuiet)
    int m_restarts = 0;
    int m_sends = 0;         // requests sent
    int m_planned = 0;       // of those, the first attempts of the plan's requests: the rest are retries
    int m_answers = 0;       // datagrams taken
    bool m_extra = false;    // what is sent now is beyond the plan (a restart, a confirmation, a read-back in doubt)
    bool m_doubtful = false; // anything unexpected since the task (or its read-back) began
    int m_confirmations = 0;
    Pass m_pass;
    std::array<QByteArray, kParameterCount> m_passBytes;
    ParameterBits m_clear = 0; // the parameters whose value the pass took clear of doubt (see take())
    struct Done
    {
        std::array<QByteArray, kParameterCount> bytes; // the replies taken
        ParameterBits clear = 0;
    };
    QList<Done> m_passes;                      // complete ones, of the read phase
    std::vector<const Parameter*> m_readOrder; // of the read phase's current pass
    Result m_result;
};

// The order a read queries the parameters in: the table's order, rearranged so that no two
// neighbours have replies of the same layout class (one digit, a number, an address).
const std::vector<const Parameter*>& readOrder();
// The same for some parameters; `afterAcknowledgement`: the first is not of the one-digit class, as a
// late "OK" has that length.
std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, bool afterAcknowledgement);
// The same, the first not of the class of `after` (a query whose late copies may follow).
std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, const Parameter* after);
// The parameters in table order: the window's read and write.
const std::vector<const Parameter*>& tableOrder();
// What a write or restoring defaults reads back afterwards, in order: after an acknowledgement.
std::vector<const Parameter*> readBackOrder(const Plan& plan);

// Whether an acknowledgement says "OK": bytes 6 and 7.
bool isAcknowledged(QByteArrayView datagram);

} // namespace tarvik::talk
