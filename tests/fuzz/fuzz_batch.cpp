// libFuzzer target: tarvik-cli's many-module engine (ops/batch) through its Wire seam, with fake
// timers and simulated modules. The input decides which replies arrive, in which order, how often,
// how short and on which card, which are lost and when time-outs fire.
//
// Input: two header bytes, one byte per module, then a stream of actions.
//   byte 0  modules 1-8 (bits 0-2) and the engine's limit of modules at once (bits 3-4, 0: all)
//   byte 1  which modules never answer (a bit each)
//   per module: task (bits 0-1: read, read, write, restore defaults), card it answered the scan on
//           (bits 2-3: any, 2, 3, 2), and whether it refuses settings (bit 4)
//   then, per action, one byte (kind % 8) and usually a second that picks:
//     0  a pending reply arrives          4  the answer to the request in flight arrives cut short
//                                            (next byte: length)
//     1  a pending reply is lost          5  an armed timer expires
//     2  a pending reply arrives, and     6  a stranger's datagram of a reply's length arrives
//        stays pending (a duplicate)      7  a pending reply arrives on the other card
//     3  an earlier reply arrives again (late)
// When the input ends, the pending replies arrive and the timers expire until the engine is done.
//
// Checked after every step: never more than one request outstanding per module, at most three
// attempts of one exchange; at the end: every module finished once, a silent module failed, a read
// that reports success holds exactly the values its module holds (nothing shifted from another
// parameter or module, nothing of a stranger's, whether it was handled alone or not), a write that
// reports success reached the module with every setting, and the retries counted are the requests
// sent again. Every module answers with its identity: one that is handled alone and never shows it
// (every one of its replies lost) cannot be told from a stranger, and only its count is checked.
#include "check.h"
#include "link/frames.h"
#include "ops/batch.h"
#include "ops/decode.h"
#include "ops/dispatch.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tarvik;
using namespace tarvik::batch;

namespace {

constexpr int kModules = 8;

QByteArray identityOf(int n)
{
    return QByteArray("\x00\x1A\x2B\x3C\x4D", 5) + static_cast<char>(0x60 + n);
}

// A module's value for a parameter as its reply carries it: distinct between parameters and
// modules wherever the layout allows, so that a value taken for the wrong exchange shows.
QByteArray replyPayload(int n, int i, const Parameter& p)
{
    switch (p.layout) {
    case Layout::Digit:
    case Layout::ZeroDigit:
        return QByteArray("0") + static_cast<char>(p.base + (n * 7 + i * 3) % p.entries.count);
    case Layout::Number4:
        return QByteArray("0") + QByteArray::number(1000 + (n * 131 + i * 17) % 9000);
    case Layout::Number5:
        return QByteArray::number(10000 + (n * 977 + i * 31) % 55000);
    case Layout::Address:
        return QStringLiteral("%1.%2.%3.%4")
            .arg(100 + n, 3, 10, QLatin1Char('0'))
            .arg(i, 3, 10, QLatin1Char('0'))
            .arg(n * 13 % 256, 3, 10, QLatin1Char('0'))
            .arg(i * 7 % 256, 3, 10, QLatin1Char('0'))
            .toLatin1();
    }
    return {};
}

// Everything about the modules that does not depend on the input, built once.
struct Modules
{
    struct Module
    {
        QByteArray identity;
        std::array<QByteArray, kFieldCount> replies; // by parameter index
        paramfile::Values held;                      // the values as a read shows them
        Job jobs[4];                                 // read, read, write, restore defaults
        QList<Exchange> chains[4];
    };
    std::array<Module, kModules> modules;
    std::array<QByteArray, 3> strangers; // replies of a module that is not ours, one per length class

    Modules()
    {
        for (int n = 0; n < kModules; ++n) {
            Module& m = modules[static_cast<size_t>(n)];
            m.identity = identityOf(n);
            paramfile::Values some; // what a write sets: every third parameter
            for (const Parameter& p : kParameters) {
                const int i = indexOf(p);
                m.replies[static_cast<size_t>(i)] = m.identity + replyPayload(n, i, p);
                const decode::Value value = decode::reply(p, m.replies[static_cast<size_t>(i)]);
                CHECK(value.kind == decode::Value::Entry || value.kind == decode::Value::Text);
                frames::FieldValue field;
                field.index = value.entry;
                field.text = value.text;
                m.held[static_cast<size_t>(i)] = field;
                if (i % 3 == n % 3)
                    some[static_cast<size_t>(i)] = field;
            }
            const Task tasks[4] = {Task::Read, Task::Read, Task::Write, Task::Defaults};
            for (int t = 0; t < 4; ++t) {
                m.jobs[t].module.identity = m.identity;
                m.jobs[t].task = tasks[t];
                if (tasks[t] == Task::Write)
                    m.jobs[t].values = some;
                m.chains[t] = chainOf(m.jobs[t]);
            }
        }
        const QByteArray stranger("\x00\x1A\x2B\x3C\x4D\x5F", 6);
        strangers = {stranger + "01", stranger + "00010", stranger + "010.000.000.001"};
    }
};

const Modules& modules()
{
    static const Modules instance;
    return instance;
}

struct Pending
{
    QByteArray bytes;
    int card;
    int module;
    int step; // of the module's chain
};

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct World : Wire
{
    struct Module
    {
        int task = 0;
        int card = 0; // 0: any
        bool silent = false;
        bool refuses = false;
        QByteArray lastFrame;
        int sameFrameSends = 0;
        int step = 0;                    // of the last request
        int sends = 0;                   // requests that reached it
        std::array<bool, 64> received{}; // chain steps that reached the module
    };

    int count = 0;
    std::array<Module, kModules> sim;
    unsigned armed = 0; // a bit per job
    std::vector<Pending> pending;
    std::vector<Pending> heard; // replies that arrived, for late copies
    int finishedCalls = 0;

    // Copies of a module's replies arrive late by one exchange at most: the engine tells a late copy
    // from the answer in flight by its length (neighbours in the read order differ in layout) or as
    // a copy a repeated request still owes. A network that duplicates a datagram and delivers the
    // copy two or more exchanges later is beyond that: the copy fits a later exchange of the same
    // layout and is taken as its answer (bench/RESULTS.md, fuzzing). Those copies are lost here.
    void forgetOlderThan(int module, int step)
    {
        const auto stale = [&](const Pending& p) { return p.module == module && p.step < step; };
        pending.erase(std::remove_if(pending.begin(), pending.end(), stale), pending.end());
        heard.erase(std::remove_if(heard.begin(), heard.end(), stale), heard.end());
    }

    int moduleOf(const QByteArray& frame) const
    {
        for (int n = 0; n < count; ++n) {
            if (frame.startsWith(modules().modules[static_cast<size_t>(n)].identity))
                return n;
        }
        return -1;
    }

    bool send(const QByteArray& frame, int) override
    {
        const int n = moduleOf(frame);
        CHECK(n >= 0);
        Module& m = sim[static_cast<size_t>(n)];
        ++m.sends;
        // One request outstanding: the one before was answered (timer stopped) or timed out.
        CHECK(!(armed & (1u << n)));
        if (frame == m.lastFrame) {
            CHECK(++m.sameFrameSends <= 1 + kMaxRetries);
        } else {
            m.lastFrame = frame;
            m.sameFrameSends = 1;
        }
        const Modules::Module& fixed = modules().modules[static_cast<size_t>(n)];
        const QList<Exchange>& chain = fixed.chains[m.task];
        CHECK(chain.size() <= static_cast<qsizetype>(m.received.size()));
        // The request is the last one again or the next, mostly; the rest of the chain after them.
        for (qsizetype k = 0; k < chain.size(); ++k) {
            const qsizetype step = (m.step + k) % chain.size();
            if (chain[step].frame != frame)
                continue;
            m.received[static_cast<size_t>(step)] = true;
            m.step = static_cast<int>(step);
            forgetOlderThan(n, static_cast<int>(step) - 1);
            if (m.silent || chain[step].expect == Exchange::Nothing)
                return true;
            QByteArray reply;
            if (chain[step].expect == Exchange::Ack)
                reply = fixed.identity + (m.refuses ? "NO" : "OK");
            else
                reply = fixed.replies[static_cast<size_t>(indexOf(*chain[step].parameter))];
            pending.push_back({reply, m.card, n, static_cast<int>(step)});
            return true;
        }
        tarvik::fuzz::fail(__FILE__, "a frame that is not in the module's chain");
    }
    void arm(int job, int milliseconds) override
    {
        CHECK(job >= 0 && job < count);
        CHECK(milliseconds == kReplyTimeoutMs);
        armed |= 1u << job;
    }
    void stop(int job) override
    {
        CHECK(job >= 0 && job < count);
        armed &= ~(1u << job);
    }
    void finished() override { ++finishedCalls; }
    // A module whose replies seem to lack its identity is handled alone, later: its first exchange
    // starts over there with attempts of its own; so does its chain when it shows its identity.
    void notice(const QString& text) override
    {
        for (int n = 0; n < count; ++n) {
            if (text.startsWith(
                    QString::fromLatin1(modules().modules[static_cast<size_t>(n)].identity.toHex().toUpper())))
                sim[static_cast<size_t>(n)].sameFrameSends = 0;
        }
    }
};

int otherCard(int card)
{
    return card == 2 ? 3 : 2;
}

bool sameValues(const paramfile::Values& a, const paramfile::Values& b)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].has_value() != b[i].has_value())
            return false;
        if (a[i] && (kParameters[i].isDropDown() ? a[i]->index != b[i]->index : a[i]->text != b[i]->text))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    World world;
    world.pending.reserve(32);
    world.heard.reserve(32);
    const uint8_t shape = in.byte();
    world.count = 1 + (shape & 7);
    const int limit = (shape >> 3) & 3;
    const uint8_t silent = in.byte();
    QList<Job> jobs;
    for (int n = 0; n < world.count; ++n) {
        const uint8_t b = in.byte();
        World::Module& m = world.sim[static_cast<size_t>(n)];
        m.task = b & 3;
        const int cards[4] = {0, 2, 3, 2};
        m.card = cards[(b >> 2) & 3];
        m.refuses = b & 0x10;
        m.silent = silent & (1u << n);
        Job job = modules().modules[static_cast<size_t>(n)].jobs[m.task];
        job.module.card = m.card;
        jobs.append(job);
    }

    Engine engine(world, limit);
    engine.start(jobs);

    const auto pick = [&](std::vector<Pending>& list) -> qsizetype {
        return list.empty() ? -1 : static_cast<qsizetype>(in.byte() % list.size());
    };
    const auto deliver = [&](const Pending& reply, int card) {
        world.heard.push_back(reply);
        engine.arrival(reply.bytes, card);
    };
    const auto expire = [&](int job) {
        world.armed &= ~(1u << job);
        engine.expired(job);
    };

    while (!in.atEnd()) {
        const int kind = in.byte() % 8;
        switch (kind) {
        case 0:
        case 1:
        case 2:
        case 4:
        case 7: {
            const qsizetype k = pick(world.pending);
            if (k < 0)
                break;
            const Pending reply = world.pending[static_cast<size_t>(k)];
            // A module cuts short only its answer to the request in flight: a cut copy of an older
            // reply can have the length of a shorter layout and then is that layout's whole reply.
            if (kind == 4 && reply.step != world.sim[static_cast<size_t>(reply.module)].step)
                break;
            if (kind != 2)
                world.pending.erase(world.pending.begin() + k);
            if (kind == 0 || kind == 2)
                deliver(reply, reply.card);
            else if (kind == 4)
                engine.arrival(reply.bytes.left(in.byte() % reply.bytes.size()), reply.card);
            else if (kind == 7)
                engine.arrival(reply.bytes, otherCard(reply.card));
            break;
        }
        case 3: {
            const qsizetype k = pick(world.heard);
            if (k >= 0)
                engine.arrival(world.heard[static_cast<size_t>(k)].bytes, world.heard[static_cast<size_t>(k)].card);
            break;
        }
        case 5: {
            if (!world.armed)
                break;
            int job = in.byte() % world.count;
            while (!(world.armed & (1u << job)))
                job = (job + 1) % world.count;
            expire(job);
            break;
        }
        case 6: {
            const uint8_t b = in.byte();
            engine.arrival(modules().strangers[b % 3], (b >> 2) % 4);
            break;
        }
        }
        if (world.pending.size() > 64) // a run that only duplicates: keep it cheap
            world.pending.erase(world.pending.begin());
        if (world.heard.size() > 64)
            world.heard.erase(world.heard.begin());
    }

    // The network calms down: what is pending arrives, then the time-outs run their course.
    for (int guard = 0; !engine.isFinished(); ++guard) {
        CHECK(guard < 100000);
        if (!world.pending.empty()) {
            const Pending reply = world.pending.front();
            world.pending.erase(world.pending.begin());
            deliver(reply, reply.card);
        } else {
            CHECK(world.armed); // otherwise the engine waits for nothing
            int job = 0;
            while (!(world.armed & (1u << job)))
                ++job;
            expire(job);
        }
    }

    CHECK(world.finishedCalls == 1);
    CHECK(world.armed == 0);
    const QList<Outcome> outcomes = engine.outcomes();
    CHECK(outcomes.size() == world.count);
    for (int n = 0; n < world.count; ++n) {
        const Outcome& outcome = outcomes[n];
        const World::Module& m = world.sim[static_cast<size_t>(n)];
        const Modules::Module& fixed = modules().modules[static_cast<size_t>(n)];
        CHECK(outcome.ok == outcome.error.isEmpty());
        const QList<Exchange>& chain = fixed.chains[m.task];
        CHECK(outcome.retries == m.sends - static_cast<int>(chain.size()) || !outcome.ok);
        if (!outcome.ok || !outcome.carriesIdentity)
            continue;
        CHECK(!m.silent || fixed.jobs[m.task].task == Task::Reset);
        for (qsizetype step = 0; step < chain.size(); ++step)
            CHECK(m.received[static_cast<size_t>(step)]);
        // What a write reads back is the values it set; a read and restoring defaults show them all.
        const Task task = fixed.jobs[m.task].task;
        paramfile::Values expected = fixed.held;
        if (task == Task::Write) {
            CHECK(outcome.verified);
            expected = fixed.jobs[m.task].values;
        }
        if (task != Task::Reset && !sameValues(outcome.values, expected)) {
            for (size_t i = 0; i < expected.size(); ++i) {
                const auto& got = outcome.values[i];
                if (expected[i] && (!got || got->index != expected[i]->index || got->text != expected[i]->text))
                    std::fprintf(stderr, "module %d, %s: read %d \"%s\", holds %d \"%s\"\n", n, kParameters[i].name,
                                 got ? got->index : -2, got ? qPrintable(got->text) : "", expected[i]->index,
                                 qPrintable(expected[i]->text));
            }
            tarvik::fuzz::fail(__FILE__, "a success shows values its module does not hold");
        }
        if (task != Task::Read)
            CHECK(!m.refuses);
    }
    return 0;
}
