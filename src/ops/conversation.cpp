#include "conversation.h"

#include "link/wirelog.h"
#include "ops/dispatch.h"
#include "ops/replyrule.h"

#include <algorithm>

namespace tarvik::talk {

namespace {

// Confirmation passes after a first pass in doubt: each in an order of its own.
constexpr int kMaxConfirmations = 2;

// Whether a datagram has the length and the digits of some query's whole reply.
bool fitsSomeQuery(QByteArrayView datagram)
{
    return std::any_of(std::begin(kParameters), std::end(kParameters), [datagram](const Parameter& p) {
        return rule::fitsLength(&p, datagram.size()) && rule::valueIsDigits(p, datagram);
    });
}

// A datagram of an acknowledgement's shape: its length, and no digit where a one-digit reply has it.
bool looksLikeAcknowledgement(QByteArrayView datagram)
{
    return datagram.size() >= rule::shortest(Layout::Digit) && datagram.size() <= rule::longest(Layout::Digit) &&
           !(datagram[7] >= '0' && datagram[7] <= '9');
}

} // namespace

bool isAcknowledged(QByteArrayView datagram)
{
    return datagram.size() >= rule::shortest(Layout::Digit) && datagram[6] == 'O' && datagram[7] == 'K';
}

// ---- Orders ---------------------------------------------------------------------------------------

namespace {

std::vector<const Parameter*> alternating(const std::vector<const Parameter*>& parameters, int last)
{
    // Greedy: always the class with most parameters left that differs from the last one taken,
    // each class in the given order. It never runs stuck while no class holds more than half.
    // The classes (by shortest reply) are few: at most one per layout. Of two with as many left, the
    // one of shorter replies.
    struct Class
    {
        int shortest = 0;
        std::vector<const Parameter*> members;
        size_t taken = 0;
    };
    std::array<Class, kLayoutCount> classes;
    size_t count = 0;
    for (const Parameter* p : parameters) {
        const int shortest = rule::shortest(p->layout);
        size_t c = 0;
        while (c < count && classes[c].shortest != shortest)
            ++c;
        if (c == count)
            classes[count++].shortest = shortest;
        classes[c].members.push_back(p);
    }
    std::vector<const Parameter*> result;
    result.reserve(parameters.size());
    while (result.size() < parameters.size()) {
        Class* best = nullptr;
        Class* same = nullptr;
        for (size_t c = 0; c < count; ++c) {
            Class& k = classes[c];
            const size_t remaining = k.members.size() - k.taken;
            const size_t bestRemaining = best ? best->members.size() - best->taken : 0;
            if (k.shortest == last)
                same = &k;
            else if (remaining > bestRemaining || (best && remaining == bestRemaining && k.shortest < best->shortest))
                best = &k;
        }
        if (!best) // only one class left: neighbours alike cannot be avoided
            best = same;
        result.push_back(best->members[best->taken++]);
        last = best->shortest;
    }
    return result;
}

} // namespace

std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, bool afterAcknowledgement)
{
    // An acknowledgement has a one-digit reply's length.
    return alternating(parameters, afterAcknowledgement ? rule::shortest(Layout::Digit) : -1);
}

std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, const Parameter* after)
{
    return alternating(parameters, after ? rule::shortest(after->layout) : -1);
}

const std::vector<const Parameter*>& tableOrder()
{
    static const std::vector<const Parameter*> order = [] {
        std::vector<const Parameter*> all;
        for (const Parameter& p : kParameters)
            all.push_back(&p);
        return all;
    }();
    return order;
}

const std::vector<const Parameter*>& readOrder()
{
    static const std::vector<const Parameter*> order = queryOrder(tableOrder(), false);
    return order;
}

std::vector<const Parameter*> readBackOrder(const Plan& plan)
{
    return queryOrder(plan.task == Task::Write ? plan.order : readOrder(), true);
}

// ---- Ledger ---------------------------------------------------------------------------------------

void Ledger::expire(qint64 nowMs)
{
    // Looked at for every datagram: nothing to do until the oldest request owed is past it.
    if (m_oldest < 0 || nowMs - m_oldest <= kLateReplyMs)
        return;
    const auto old = [nowMs](qint64 at) { return nowMs - at > kLateReplyMs; };
    m_oldest = -1;
    const auto keepOldest = [this](const QList<qint64>& owed) {
        if (!owed.isEmpty() && (m_oldest < 0 || owed.first() < m_oldest))
            m_oldest = owed.first();
    };
    for (size_t i = 0; i < m_parameters.size(); ++i) {
        m_parameters[i].owed.removeIf(old);
        m_parameters[i].copies.removeIf(old);
        keepOldest(m_parameters[i].owed);
        keepOldest(m_parameters[i].copies);
        updateOwing(i);
    }
    m_acknowledgements.removeIf(old);
    m_acknowledgementCopies.removeIf(old);
    keepOldest(m_acknowledgements);
    keepOldest(m_acknowledgementCopies);
}

void Ledger::sent(const Step& step, qint64 nowMs)
{
    expire(nowMs);
    if (step.kind != Step::Reset && m_oldest < 0)
        m_oldest = nowMs;
    switch (step.kind) {
    case Step::Query: {
        const auto i = static_cast<size_t>(indexOf(*step.parameter));
        m_parameters[i].owed.append(nowMs);
        updateOwing(i);
        break;
    }
    case Step::Setting:
    case Step::Defaults:
        m_acknowledgements.append(nowMs);
        break;
    case Step::Reset:
        break;
    }
}

bool Ledger::isOwedCopy(int awaited, const QByteArray& datagram, qint64 nowMs)
{
    expire(nowMs);
    // A copy of the awaited query's own earlier answer is not its answer to this request either.
    if (awaited >= 0) {
        const Parameter& own = m_parameters[static_cast<size_t>(awaited)];
        if (!own.copies.isEmpty() && own.known == datagram)
            return true;
    }
    // On the normal path nothing but the query awaited owes a reply: nothing to look at.
    const ParameterBits others = m_owing & ~bitOf(awaited);
    if (others == 0)
        return false;
    // Even when the awaited query is known to be answered with the same bytes: which of the two it is
    // cannot be told. Counted against the other, the count of these bytes still to come stays right
    // (the awaited query, asked again, owes what it was not answered).
    for (size_t i = 0; i < m_parameters.size(); ++i) {
        if ((others & bitOf(static_cast<int>(i))) && m_parameters[i].known == datagram)
            return true;
    }
    return false;
}

bool Ledger::settle(size_t i, qint64 nowMs)
{
    // On a network that copies, the copy of an answer comes as well as the late replies of the
    // requests it did not answer, and looks the same: copies are counted off first, and a late
    // reply brings a copy of its own.
    Parameter& p = m_parameters[i];
    bool request = false;
    if (!p.copies.isEmpty()) {
        p.copies.removeFirst();
    } else if (!p.owed.isEmpty()) {
        p.owed.removeFirst();
        request = true;
        if (m_copying)
            p.copies.append(nowMs);
    }
    updateOwing(i);
    return request;
}

bool Ledger::copyArrived(int awaited, const QByteArray& datagram, qint64 nowMs)
{
    // The oldest request (or copy) that owes these bytes: which one it is cannot be told, and need not be.
    int oldest = -1;
    qint64 oldestAt = 0;
    for (size_t i = 0; i < m_parameters.size(); ++i) {
        const Parameter& p = m_parameters[i];
        // The awaited query's own request in flight is not settled by it; its copies are.
        const bool own = static_cast<int>(i) == awaited;
        if (!(m_owing & bitOf(static_cast<int>(i))) || p.known != datagram || (own && p.copies.isEmpty()))
            continue;
        const qint64 at = p.copies.isEmpty() ? p.owed.first() : p.copies.first();
        if (oldest < 0 || at < oldestAt) {
            oldest = static_cast<int>(i);
            oldestAt = at;
        }
    }
    return oldest >= 0 && settle(static_cast<size_t>(oldest), nowMs);
}

void Ledger::answered(int parameter, const QByteArray& datagram, qint64 nowMs, bool surely)
{
    Parameter& p = m_parameters[static_cast<size_t>(parameter)];
    if (p.known != datagram)
        p.copies.clear(); // copies of other bytes are not this one's to count
    p.known = datagram;
    p.surely = surely;
    if (!p.owed.isEmpty())
        p.owed.removeFirst();
    if (m_copying)
        p.copies.append(nowMs);
    updateOwing(static_cast<size_t>(parameter));
}

void Ledger::spoilt(int parameter)
{
    QList<qint64>& owed = m_parameters[static_cast<size_t>(parameter)].owed;
    if (!owed.isEmpty())
        owed.removeFirst();
    updateOwing(static_cast<size_t>(parameter));
}

int Ledger::acknowledgementsOwed(qint64 nowMs)
{
    expire(nowMs);
    return static_cast<int>(m_acknowledgements.size() + m_acknowledgementCopies.size());
}

void Ledger::acknowledgementArrived(qint64 nowMs)
{
    // As for a query's reply: on a network that copies, every acknowledgement comes twice, and the
    // copies are counted off first.
    if (!m_acknowledgementCopies.isEmpty()) {
        m_acknowledgementCopies.removeFirst();
        return;
    }
    if (!m_acknowledgements.isEmpty()) {
        // Of several owed, which one it settles, and whether it is not a copy the network made of
        // another (a network not known to copy), cannot be told.
        if (m_acknowledgements.size() > 1)
            m_acknowledgementsCountedOff = nowMs;
        m_acknowledgements.removeFirst();
        if (m_copying)
            m_acknowledgementCopies.append(nowMs);
    }
}

void Ledger::strayArrived(int awaited, const QByteArray& datagram, qint64 nowMs)
{
    expire(nowMs);
    if (isOwedCopy(awaited, datagram, nowMs)) {
        copyArrived(awaited, datagram, nowMs);
        return;
    }
    if (awaited >= 0) {
        Parameter& own = m_parameters[static_cast<size_t>(awaited)];
        // A late copy of its own earlier answer: what its request in flight owes stays owed.
        if (own.known == datagram && (!own.copies.isEmpty() || own.owed.size() > 1))
            settle(static_cast<size_t>(awaited), nowMs);
        if (own.known == datagram)
            return;
    }
    if (!looksLikeAcknowledgement(datagram))
        return;
    if (m_acknowledgements.isEmpty() && m_acknowledgementCopies.isEmpty())
        m_unowedAcknowledgement = nowMs;
    else
        acknowledgementArrived(nowMs);
}

bool Ledger::owesAnything(qint64 nowMs)
{
    expire(nowMs);
    return m_owing != 0 || !m_acknowledgements.isEmpty() || !m_acknowledgementCopies.isEmpty() ||
           acknowledgementsUncertain(nowMs);
}

bool Ledger::unowedAcknowledgementHeard(qint64 nowMs) const
{
    return m_unowedAcknowledgement >= 0 && nowMs - m_unowedAcknowledgement <= kLateReplyMs;
}

bool Ledger::acknowledgementsUncertain(qint64 nowMs) const
{
    return unowedAcknowledgementHeard(nowMs) ||
           (m_acknowledgementsCountedOff >= 0 && nowMs - m_acknowledgementsCountedOff <= kLateReplyMs);
}

void Ledger::heard(const QByteArray& datagram)
{
    // A network's copy comes right after its original: once the module's next datagram is another,
    // the copies awaited are not coming.
    bool copies = !m_acknowledgementCopies.isEmpty();
    if (copies && looksLikeAcknowledgement(datagram))
        return;
    for (const Parameter& p : m_parameters) {
        if (p.copies.isEmpty())
            continue;
        if (p.known == datagram)
            return;
        copies = true;
    }
    if (!copies)
        return;
    for (size_t i = 0; i < m_parameters.size(); ++i) {
        m_parameters[i].copies.clear();
        updateOwing(i);
    }
    m_acknowledgementCopies.clear();
}

qint64 Ledger::quietAt(int awaited, const QByteArray& datagram, qint64 nowMs)
{
    expire(nowMs);
    qint64 quiet = nowMs;
    const ParameterBits others = m_owing & ~bitOf(awaited);
    for (size_t i = 0; others != 0 && i < m_parameters.size(); ++i) {
        const Parameter& p = m_parameters[i];
        if ((others & bitOf(static_cast<int>(i))) && !p.owed.isEmpty() && p.known == datagram)
            quiet = std::max(quiet, p.owed.last() + kLateReplyMs + 1);
    }
    return quiet;
}

qint64 Ledger::unknownQuietAt(qint64 nowMs)
{
    expire(nowMs);
    qint64 quiet = nowMs;
    for (size_t i = 0; m_owing != 0 && i < m_parameters.size(); ++i) {
        const Parameter& p = m_parameters[i];
        if ((p.known.isNull() || !p.surely) && !p.owed.isEmpty())
            quiet = std::max(quiet, p.owed.last() + kLateReplyMs + 1);
    }
    return quiet;
}

bool Ledger::owesUnknown(int besides, qint64 nowMs)
{
    expire(nowMs);
    const ParameterBits others = m_owing & ~bitOf(besides);
    for (size_t i = 0; others != 0 && i < m_parameters.size(); ++i) {
        const Parameter& p = m_parameters[i];
        if ((others & bitOf(static_cast<int>(i))) && (p.known.isNull() || !p.surely) && !p.owed.isEmpty())
            return true;
    }
    return false;
}

// ---- Conversation ---------------------------------------------------------------------------------

Conversation::Conversation(Port& port, Listener& listener) : m_port(port), m_listener(listener) {}

void Conversation::setDevice(const Device& device)
{
    if (device.identity != m_device.identity || device.carriesIdentity)
        m_beforeUnidentified.reset();
    if (device.identity != m_device.identity) {
        const qint64 now = m_port.now();
        m_setAside.erase(std::remove_if(m_setAside.begin(), m_setAside.end(),
                                        [now](auto& entry) { return !entry.second.owesAnything(now); }),
                         m_setAside.end());
        if (!m_device.identity.isEmpty() && m_ledger.owesAnything(now))
            m_setAside.emplace_back(m_device.identity, std::move(m_ledger));
        const auto earlier = std::find_if(m_setAside.begin(), m_setAside.end(),
                                          [&device](const auto& entry) { return entry.first == device.identity; });
        if (earlier != m_setAside.end()) {
            m_ledger = std::move(earlier->second);
            m_setAside.erase(earlier);
        } else {
            m_ledger.forget();
        }
    }
    m_device = device;
}

void Conversation::start(const Plan& plan)
{
    m_port.stop();
    m_plan = plan;
    m_result = Result();
    m_restarts = m_sends = m_planned = m_answers = 0;
    m_extra = false;
    m_doubtful = false;
    m_takenLast = m_quieting = false;
    m_confirmations = 0;
    m_passes.clear();
    beginRequest();
    const qint64 now = m_port.now();
    // On a network that copies datagrams, a copy may stand in for the answer it follows.
    if (m_device.copiesSeen)
        doubt();
    switch (plan.task) {
    case Task::Read:
        beginRead(plan.order, false);
        return;
    case Task::Write:
        // An earlier setting's acknowledgement may still come, or the module's "OK"s come more
        // often than they are asked for (the network, or another PC), or were lately counted off
        // several owed at a time: any "OK" may be such a one.
        if (m_ledger.acknowledgementsOwed(now) > 0 || m_ledger.acknowledgementsUncertain(now))
            doubt();
        beginSettings();
        return;
    case Task::Defaults:
        m_phase = Phase::Defaults;
        m_order.clear();
        send(false);
        return;
    case Task::Reset:
        m_phase = Phase::Reset;
        send(false);
        return;
    }
}

void Conversation::beginRead(std::vector<const Parameter*> order, bool extra)
{
    m_phase = Phase::Reading;
    m_extra = extra;
    m_readOrder = std::move(order);
    m_passes.clear();
    m_confirmations = 0;
    if (m_device.copiesSeen)
        doubt();
    // A query of an earlier read still unanswered may be answered now, as the answer to another.
    if (m_ledger.owesUnknown(-1, m_port.now()))
        doubt();
    beginPass();
}

void Conversation::beginPass()
{
    m_order = m_readOrder;
    m_index = 0;
    beginRequest();
    m_pass = {};
    m_passBytes = {};
    m_clear = 0;
    m_listener.passBegins();
    if (m_order.empty()) {
        passComplete();
        return;
    }
    send(false);
}

void Conversation::restartPass()
{
    if (m_phase == Phase::Idle)
        return;
    ++m_restarts;
    m_extra = true;
    beginRequest();
    if (m_plan.task == Task::Write) {
        // The whole write: the settings again, then (in doubt now) the read-back.
        beginSettings();
        return;
    }
    beginPass();
}

void Conversation::beginSettings()
{
    m_phase = Phase::Settings;
    m_order = m_plan.order;
    m_index = 0;
    if (m_order.empty()) {
        settingsComplete();
        return;
    }
    send(false);
}

void Conversation::abandon()
{
    if (m_phase == Phase::Idle)
        return;
    m_port.stop();
    m_phase = Phase::Idle;
}

bool Conversation::owesReply(QByteArrayView identity, const QByteArray& datagram)
{
    const qint64 now = m_port.now();
    if (identity == QByteArrayView(m_device.identity))
        return m_ledger.isOwedCopy(-1, datagram, now);
    for (auto& [setAside, ledger] : m_setAside) {
        if (identity == QByteArrayView(setAside))
            return ledger.isOwedCopy(-1, datagram, now);
    }
    return false;
}

Step Conversation::currentStep() const
{
    switch (m_phase) {
    case Phase::Settings:
        return {Step::Setting, m_order[m_index]};
    case Phase::Reading:
        return {Step::Query, m_order[m_index]};
    case Phase::Defaults:
        return {Step::Defaults, nullptr};
    case Phase::Reset:
    case Phase::Idle:
        break;
    }
    return {Step::Reset, nullptr};
}

void Conversation::send(bool afterAnswer)
{
    m_step = currentStep();
    // A query whose answer was set aside as another's late reply goes out again once no other
    // request can still bring those bytes: its answer is then certain.
    if (m_step.kind == Step::Query && !m_wary.isEmpty()) {
        const qint64 now = m_port.now();
        const qint64 quiet = m_ledger.quietAt(indexOf(*m_step.parameter), m_wary, now);
        if (quiet > now) {
            m_waiting = true;
            m_waitedAfterAnswer = afterAnswer;
            m_port.arm(static_cast<int>(quiet - now));
            return;
        }
    }
    m_waiting = false;
    if (m_attempts == 0 && !m_extra)
        ++m_planned;
    ++m_attempts;
    ++m_sends;
    m_listener.sending(m_step, m_attempts, afterAnswer);

    // A request to a module without an identity goes nowhere: nothing can answer it.
    std::optional<QByteArray> frame;
    if (m_device.identity.size() == frames::kIdentitySize) {
        switch (m_step.kind) {
        case Step::Query:
            frame = frames::query(m_device.identity, *m_step.parameter);
            break;
        case Step::Setting: {
            const frames::FieldValue value = m_listener.valueFor(*m_step.parameter);
            m_result.sent[static_cast<size_t>(indexOf(*m_step.parameter))] = value;
            frame = frames::setting(m_device.identity, *m_step.parameter, value);
            break;
        }
        case Step::Defaults:
            frame = frames::restoreDefaults(m_device.identity);
            break;
        case Step::Reset:
            frame = frames::resetAndRun(m_device.identity);
            break;
        }
    }
    const bool sent = frame && m_port.send(*frame, m_device.sendCard);
    if (sent) {
        m_ledger.sent(m_step, m_port.now());
        if (m_beforeUnidentified)
            m_beforeUnidentified->sent(m_step, m_port.now());
    } else {
        ++m_unsent;
        m_sendError = frame ? m_port.sendError() : QString();
        m_unbuildable = !frame && m_step.kind == Step::Setting;
        if (frame)
            wire::sendFailed(*frame, m_device.sendCard, m_sendError);
    }
    if (m_step.kind == Step::Reset) {
        m_result.attempts = 1;
        m_result.sendError = m_sendError;
        finish(sent ? Result::Succeeded : Result::NotSent);
        return;
    }
    // A frame that did not go out is reported by the time-out, as any unanswered request.
    m_port.arm(kReplyTimeoutMs);
}

bool Conversation::repeatsExchanges() const
{
    // The window's rule (the whole read or write again) is for the read or write it asked for; the
    // passes that confirm a read, and a write's read-back, ask again for what went unanswered only.
    return m_plan.retry == Retry::RepeatExchange || m_confirmations > 0 ||
           (m_phase == Phase::Reading && m_plan.task != Task::Read);
}

void Conversation::beginRequest()
{
    m_attempts = m_unsent = m_askedAgain = 0;
    m_ateCopy = m_waiting = false;
    m_wary.clear();
    m_garbled.clear();
}

bool Conversation::repeatsLeft() const
{
    return m_attempts - m_askedAgain <= kMaxRetries;
}

bool Conversation::attemptsLeft() const
{
    if (repeatsExchanges())
        return repeatsLeft();
    // The window: a read or write starts again; restoring defaults is not repeated.
    return m_plan.task != Task::Defaults && m_restarts < kMaxRetries;
}

bool Conversation::spent() const
{
    return m_phase != Phase::Idle && !attemptsLeft();
}

bool Conversation::fitsWithoutIdentity(const QByteArray& datagram, int card) const
{
    if (m_phase == Phase::Idle)
        return false;
    const rule::Peer peer{m_device.identity, m_device.card, false};
    const Parameter* awaited = m_phase == Phase::Reading ? m_step.parameter : nullptr;
    return rule::judge(peer, awaited, datagram, card, [this](QByteArrayView identity) {
               return m_isListed && m_isListed(identity);
           }) == rule::Verdict::Unidentified;
}

bool Conversation::arrival(const QByteArray& datagram, int card)
{
    const qint64 now = m_port.now();
    m_ledger.setCopying(m_device.copiesSeen);
    const bool onItsCard = card == kAnyCard || m_device.card == kAnyCard || card == m_device.card;
    const bool itsIdentity = datagram.size() >= frames::kIdentitySize &&
                             QByteArrayView(datagram).first(frames::kIdentitySize) == QByteArrayView(m_device.identity);
    // Whether it comes right after the answer last taken, as the network's copy of it would.
    const bool followsTaken = m_takenLast;
    if (onItsCard && (itsIdentity || !m_device.carriesIdentity))
        m_takenLast = false;
    // Any datagram of its own on its card shows that its replies carry its identity.
    if (itsIdentity && onItsCard) {
        // What datagrams without it did to the ledger is undone: they may have been strangers'.
        if (m_beforeUnidentified && !m_device.carriesIdentity)
            m_ledger = *m_beforeUnidentified;
        m_beforeUnidentified.reset();
        m_ledger.heard(datagram);
        m_device.carriesIdentity = true;
    } else if (!itsIdentity && !m_device.carriesIdentity && !m_beforeUnidentified) {
        m_beforeUnidentified = m_ledger;
    }
    const int awaitedIndex = m_phase == Phase::Reading ? indexOf(*m_step.parameter) : -1;
    if (m_phase == Phase::Idle || m_phase == Phase::Reset) {
        if (itsIdentity && onItsCard)
            m_ledger.strayArrived(-1, datagram, now);
        wire::notTaken(datagram, card, QStringLiteral("nothing awaited from the module"));
        return false;
    }

    // Nothing is asked while a confirming pass waits: what comes settles what is owed, and may let
    // the pass begin.
    if (m_quieting) {
        if (itsIdentity && onItsCard)
            m_ledger.strayArrived(-1, datagram, now);
        wire::notTaken(datagram, card, QStringLiteral("a confirming read waits for earlier replies"));
        if (m_ledger.unknownQuietAt(now) <= now) {
            m_port.stop();
            m_quieting = false;
            beginPass();
        }
        return false;
    }
    // A request to no module (no identity to build it from) went nowhere: nothing answers it.
    if (m_device.identity.size() != frames::kIdentitySize) {
        wire::notTaken(datagram, card, QStringLiteral("nothing was sent that it could answer"));
        return false;
    }
    const rule::Peer peer{m_device.identity, m_device.card, m_device.carriesIdentity || !m_unidentifiedAllowed};
    const Parameter* awaited = m_phase == Phase::Reading ? m_step.parameter : nullptr;
    const rule::Verdict verdict = rule::judge(
        peer, awaited, datagram, card, [this](QByteArrayView identity) { return m_isListed && m_isListed(identity); });
    // Right after the answer, while a request still owes the same bytes, it is that late reply or the
    // network's copy of the answer (on a network not known to copy): which, cannot be told. It is
    // counted as neither: counted off as the late reply, a copy would leave the true late reply to
    // be taken for another query's answer.
    const bool mayBeModules =
        rule::isAnswer(verdict) || verdict == rule::Verdict::WrongLength || verdict == rule::Verdict::NotDigits;
    if (mayBeModules && followsTaken && datagram == m_lastTaken && m_phase == Phase::Reading && !m_device.copiesSeen &&
        m_ledger.isOwedCopy(awaitedIndex, datagram, now)) {
        doubt();
        m_ateCopy = m_ateCopy || rule::isAnswer(verdict);
        wire::notTaken(datagram, card,
                       QStringLiteral("a copy of the answer before, or a late reply of the same bytes"));
        return false;
    }
    if (!rule::isAnswer(verdict)) {
        // The module's (or, without its identity, possibly its), but not the answer: something
        // unexpected, and said when the exchange fails.
        if (verdict == rule::Verdict::WrongLength || verdict == rule::Verdict::NotDigits) {
            doubt();
            // The datagram just taken, once more, and no request owes it: the network copies
            // datagrams, and a copy may stand in for an answer that follows (an "OK" for the next
            // setting's, say). What the module answers is confirmed from now on.
            if (datagram == m_lastTaken && !m_ledger.isOwedCopy(-1, datagram, now)) {
                m_device.copiesSeen = true;
                m_ledger.setCopying(true);
            }
            // The bytes of another parameter's reply that a request still owes: that late reply
            // (or its copy). Otherwise, too short for the reply awaited and nothing else it may be
            // (a late acknowledgement, another query's reply of bytes not known yet, or any query's
            // whole reply, which a request wrongly taken for answered may still send): its answer,
            // spoilt on the way (nothing of it is owed any more). Anything else may be a late reply too.
            const bool theModules = itsIdentity || !peer.carriesIdentity;
            const bool owedElsewhere = theModules && m_ledger.isOwedCopy(awaitedIndex, datagram, now);
            const bool maybeLate = owedElsewhere || m_ledger.owesUnknown(awaitedIndex, now) ||
                                   (looksLikeAcknowledgement(datagram) && m_ledger.acknowledgementsOwed(now) > 0);
            if (itsIdentity && !maybeLate && awaitedIndex >= 0 &&
                datagram.size() < rule::shortest(m_step.parameter->layout) && !fitsSomeQuery(datagram))
                m_ledger.spoilt(awaitedIndex);
            else if (theModules)
                m_ledger.strayArrived(awaitedIndex, datagram, now);
            if (verdict == rule::Verdict::NotDigits)
                m_garbled = datagram;
        }
        wire::notTaken(datagram, card, rule::why(verdict));
        return false;
    }

    // Taken, but someone else may have sent it: the module's answer to another PC's SETUP, or a
    // stranger's answer in place of one that leaves the identity out.
    if (verdict == rule::Verdict::Unidentified || m_device.mayBeDiscovery(datagram))
        doubt();
    switch (m_phase) {
    case Phase::Reading:
        if (m_ledger.isOwedCopy(awaitedIndex, datagram, now)) {
            // The answer, or the late reply owed: it counts as the late reply. The query is asked
            // again (not an attempt of its) once no other request can bring these bytes: at once
            // when this was the last that could, or else when the others are given up for lost (a
            // different answer that comes meanwhile is taken).
            const bool lateReply = m_ledger.copyArrived(awaitedIndex, datagram, now);
            doubt();
            wire::notTaken(datagram, card, QStringLiteral("a late copy of an earlier reply"));
            // The network's copy of a reply comes right after it: the answer is still to come, and
            // the query is asked again at its time-out; so too once it was asked again as often as
            // it may be repeated, however many late replies still come.
            if (!lateReply || (!m_waiting && m_askedAgain > kMaxRetries)) {
                m_ateCopy = true;
                return false;
            }
            m_wary = datagram;
            if (!m_waiting)
                ++m_askedAgain;
            m_port.stop();
            send(false);
            return false;
        }
        break;
    case Phase::Settings:
        // An earlier setting's "OK" may still be on its way: which setting this one acknowledges
        // is not certain, and the write is read back.
        if (m_ledger.acknowledgementsOwed(now) > m_attempts - m_unsent)
            doubt();
        break;
    case Phase::Defaults:
        // Restoring defaults is not read back: an acknowledgement without the module's identity may
        // be any other module's, and proves nothing of this one.
        if (verdict == rule::Verdict::Unidentified) {
            wire::notTaken(datagram, card, QStringLiteral("an acknowledgement without the module's identity"));
            return false;
        }
        // Nor is one that may be an earlier request's, or one more of those that came unasked for.
        if (m_ledger.acknowledgementsOwed(now) > m_attempts - m_unsent || m_ledger.unowedAcknowledgementHeard(now)) {
            m_ledger.acknowledgementArrived(now);
            doubt();
            m_ateCopy = true;
            wire::notTaken(datagram, card, QStringLiteral("may be the late acknowledgement of an earlier request"));
            return false;
        }
        break;
    case Phase::Reset:
    case Phase::Idle:
        break;
    }
    wire::taken();
    m_port.stop();
    m_lastTaken = datagram;
    m_takenLast = true;
    take(datagram);
    return true;
}

void Conversation::take(const QByteArray& datagram)
{
    ++m_answers;
    switch (m_phase) {
    case Phase::Reading: {
        const Parameter& p = *m_step.parameter;
        const auto i = static_cast<size_t>(indexOf(p));
        // The one decoding of a reply taken.
        const decode::Value value = decode::reply(p, datagram);
        // Whether the value may be another's: the module's discovery reply (another PC's SETUP
        // answered), unless this parameter was answered with these bytes before; or taken while
        // another query's reply of unknown bytes may still come; or a drop-down's digit out of
        // range, likelier another query's late reply than its answer. Such a value is confirmed
        // only by a pass that took it otherwise: an out-of-range digit, never.
        const int index = static_cast<int>(i);
        const bool discovery = m_device.mayBeDiscovery(datagram);
        const bool unknownOwed = m_ledger.owesUnknown(index, m_port.now());
        if (value.kind != decode::Value::Rejected && (!discovery || m_ledger.knowsAs(index, datagram)) && !unknownOwed)
            m_clear |= bitOf(index);
        // A drop-down's digit out of range is likelier another query's late reply than its own
        // answer, and the discovery reply may be another PC's: what is known of this parameter's
        // replies stays as it was, and so does what it owes. Bytes that may be another query's late
        // reply are not known for certain to be its own either: what its requests owe may be
        // anything (and a further pass waits for it).
        if ((value.kind != decode::Value::Rejected && !discovery) || !m_ledger.knows(index))
            m_ledger.answered(index, datagram, m_port.now(), !discovery && !unknownOwed);
        m_pass[i] = value;
        m_passBytes[i] = datagram;
        m_listener.taken(p, value);
        next();
        return;
    }
    case Phase::Settings:
        m_ledger.acknowledgementArrived(m_port.now());
        if (!isAcknowledged(datagram)) {
            m_result.parameter = m_step.parameter;
            m_result.attempts = m_attempts;
            finish(Result::Refused);
            return;
        }
        next();
        return;
    case Phase::Defaults:
        m_ledger.acknowledgementArrived(m_port.now());
        if (!isAcknowledged(datagram)) {
            m_result.attempts = m_attempts;
            finish(Result::Refused);
            return;
        }
        if (m_plan.readAfterDefaults) {
            m_doubtful = false;
            beginRead(readBackOrder(m_plan), m_extra);
            return;
        }
        finish(Result::Succeeded);
        return;
    case Phase::Reset:
    case Phase::Idle:
        return;
    }
}

void Conversation::next()
{
    ++m_index;
    beginRequest();
    if (m_index < m_order.size()) {
        send(true);
        return;
    }
    if (m_phase == Phase::Settings)
        settingsComplete();
    else
        passComplete();
}

void Conversation::settingsComplete()
{
    if (m_plan.verify != Plan::Verify::Always && !m_doubtful) {
        finish(Result::Succeeded);
        return;
    }
    // Then what the module holds of them: an acknowledgement is no proof that a value was stored.
    // The read-back is a read of its own: what happened before is in the acknowledgements.
    const bool extra = m_extra || m_plan.verify != Plan::Verify::Always;
    m_doubtful = false;
    beginRead(readBackOrder(m_plan), extra);
}

void Conversation::confirmWhenQuiet()
{
    const qint64 now = m_port.now();
    const qint64 quiet = m_ledger.unknownQuietAt(now);
    m_quieting = quiet > now;
    if (!m_quieting) {
        beginPass();
        return;
    }
    m_port.arm(static_cast<int>(quiet - now));
}

std::vector<const Parameter*> Conversation::confirmationOrder() const
{
    // Another order than the pass before, and not starting with a query of the kind that pass ended
    // with: its last reply's copies may still come. Late "OK"s never fit: they are not digits.
    std::vector<const Parameter*> parameters = m_readOrder;
    std::sort(parameters.begin(), parameters.end());
    const Parameter* last = m_readOrder.empty() ? nullptr : m_readOrder.back();
    const std::vector<const Parameter*> first =
        queryOrder(std::vector<const Parameter*>(parameters.rbegin(), parameters.rend()), last);
    const std::vector<const Parameter*> second = queryOrder(parameters, last);
    const bool odd = m_confirmations % 2 == 1;
    const std::vector<const Parameter*>& preferred = odd ? first : second;
    return preferred != m_readOrder ? preferred : (odd ? second : first);
}

void Conversation::passComplete()
{
    m_passes.append({m_passBytes, m_clear});
    ++m_result.passes;
    // Two passes confirm each other when they took the same replies (not merely ones that read alike:
    // the discovery reply holds S_IP's address), and each value was taken clear of doubt in one.
    ParameterBits all = 0;
    for (const Parameter* p : m_readOrder)
        all |= bitOf(indexOf(*p));
    bool settled = !m_doubtful;
    for (qsizetype i = 0; !settled && i + 1 < m_passes.size(); ++i)
        settled = ((m_passes[i].clear | m_clear) & all) == all && m_passes[i].bytes == m_passBytes;
    if (!settled) {
        if (m_confirmations >= kMaxConfirmations) {
            finish(Result::Unsettled);
            return;
        }
        ++m_confirmations;
        m_extra = true;
        m_readOrder = confirmationOrder();
        confirmWhenQuiet();
        return;
    }

    for (const Parameter* p : m_readOrder) {
        const auto i = static_cast<size_t>(indexOf(*p));
        const decode::Value& value = *m_pass[i];
        if (value.kind == decode::Value::Entry)
            m_result.values[i] = frames::FieldValue{value.entry, {}};
        else if (value.kind == decode::Value::Text)
            m_result.values[i] = frames::FieldValue{-1, value.text};
        else
            m_result.outOfRange.append({p, m_passBytes[i].mid(frames::kIdentitySize, 2)});
    }
    if (m_plan.task != Task::Write) {
        finish(Result::Succeeded);
        return;
    }
    for (const Parameter* p : m_plan.order) {
        const auto i = static_cast<size_t>(indexOf(*p));
        const std::optional<frames::FieldValue>& wrote = m_result.sent[i];
        const std::optional<frames::FieldValue>& holds = m_result.values[i];
        if (wrote && (!holds || !paramfile::sameValue(*p, *wrote, *holds)))
            m_result.mismatches.append(p);
    }
    const bool holdsAll = m_result.mismatches.isEmpty() && m_result.outOfRange.isEmpty();
    m_result.readBack = holdsAll;
    finish(holdsAll ? Result::Succeeded : Result::Mismatch);
}

bool Conversation::expired()
{
    m_takenLast = false;
    if (m_phase == Phase::Idle || m_phase == Phase::Reset)
        return false;
    if (m_quieting) {
        m_quieting = false;
        beginPass();
        return false;
    }
    if (m_waiting) {
        send(m_waitedAfterAnswer);
        return false;
    }
    doubt();
    // What came was set aside as a network's copy or an earlier request's acknowledgement, and may
    // have been the answer after all (two requests with one answer): asked again, that request
    // alone, whatever the front end's rule for a lost reply, until its repeats are spent.
    if (m_ateCopy && repeatsLeft()) {
        m_ateCopy = false;
        send(false);
        return false;
    }
    if (attemptsLeft()) {
        if (!repeatsExchanges())
            return true;
        send(false);
        return false;
    }
    m_result.parameter = m_step.parameter;
    m_result.attempts = m_attempts;
    m_result.sendError = m_sendError;
    if (!m_garbled.isEmpty()) {
        m_result.garbled = m_garbled;
        finish(Result::Garbled);
    } else if (m_unbuildable) {
        finish(Result::Unsendable);
    } else if (m_unsent == m_attempts) {
        finish(Result::NotSent);
    } else {
        finish(Result::NoReply);
    }
    return false;
}

void Conversation::finish(Result::Ending ending)
{
    m_port.stop();
    m_phase = Phase::Idle;
    m_result.ending = ending;
    m_result.retries = m_sends - m_planned;
    const Result result = m_result;
    m_listener.finished(result);
}

} // namespace tarvik::talk
