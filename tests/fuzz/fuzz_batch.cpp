// libFuzzer target: tarvik-cli's many-module engine (ops/batch) on a LAN the input drives (world.h):
// up to four modules in conversation at once, each reading, writing (some values it refuses),
// restoring defaults or resetting, over a network that loses, delays and (in a case that copies)
// doubles their datagrams, with strangers and another PC's scan.
//
// Input: two header bytes, one byte per module, then a stream of actions.
//   byte 0  modules 1-4 (bits 0-1; bit 2 unused), the engine's limit of modules at once (bits 3-4,
//           0: all), the network copies every module datagram (bit 5), module 1 leaves its identity
//           out (bit 6)
//   byte 1  which modules never answer (a bit each)
//   per module: its task (bits 0-1: read, write, restore defaults, a read of some parameters; bit 2:
//           reset instead), the card it answered the scan on (bit 3: 2 or 3), a write without
//           verification (bit 4), a value it refuses among those written (bit 5)
//   then, per action, one byte (kind % 8):
//     0-2  the next event: the first datagram on its way arrives, or the earliest time-out expires
//     3    the first datagram on its way is lost       4  it is delayed (next byte: by 100 ms steps)
//     5    the engine's next frame is lost              6  a stranger's datagram (next byte: kind)
//     7    another PC's scan (once): a module's discovery reply (next byte: which)
// When the input ends, the events run until the engine is done.
//
// Checked: one request outstanding per module, at most three attempts of one request in a row (six for
// a module set aside to be handled alone), every
// module finished once; and every success is true: a read holds exactly the module's values, a write
// left the module holding every value it was given (and, verified, read them back), restoring defaults
// left it at its factory values and reported them.
#include "check.h"
#include "ops/batch.h"
#include "ops/dispatch.h"
#include "world.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace tarvik;
using namespace tarvik::batch;
using namespace tarvik::fuzz;

namespace {

// More modules at once find nothing that four do not: each module's conversation is its own, and
// four fill every limit of modules at once the engine is given.
constexpr int kModules = 4;

QByteArray identityOf(int n)
{
    return QByteArray("\x00\x1A\x2B\x3C\x4D", 5) + static_cast<char>(0x60 + n);
}

// The modules of a run, built once: runs copy those they use.
const std::array<fuzz::Module, kModules>& templates()
{
    static const std::array<fuzz::Module, kModules> modules = [] {
        std::array<fuzz::Module, kModules> m;
        for (int n = 0; n < kModules; ++n)
            m[static_cast<size_t>(n)] = fuzz::Module::number(n + 1, identityOf(n), 2 + n % 2);
        return m;
    }();
    return modules;
}

// TARVIK_FUZZ_TRACE=1: every datagram, frame and expiry of a run on stderr (to read a crash file).
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("TARVIK_FUZZ_TRACE");
    return on;
}

struct World : Sender, Timers, Progress
{
    Network net;
    int count = 0;
    std::array<qint64, kModules> deadline{}; // -1: not armed
    std::array<QByteArray, kModules> lastFrame;
    std::array<int, kModules> sameFrame{};
    std::array<int, kModules> finishedRuns{};
    bool done = false;

    World() { deadline.fill(-1); }

    int moduleOfFrame(const QByteArray& frame) const
    {
        for (int n = 0; n < count; ++n) {
            if (sameIdentity(frame, net.modules[static_cast<size_t>(n)].identity))
                return n;
        }
        return -1;
    }

    bool send(const QByteArray& frame, int card) override
    {
        const int n = moduleOfFrame(frame);
        if (tracing())
            std::fprintf(stderr, "%6lld  -> %s\n", static_cast<long long>(net.now), frame.toHex().constData());
        CHECK(n >= 0);
        // One request outstanding: the one before was answered (timer stopped) or timed out.
        CHECK(deadline[static_cast<size_t>(n)] < 0);
        // At most three attempts of a request in a row; a module set aside to be handled alone
        // starts again with the request it made three times.
        if (frame == lastFrame[static_cast<size_t>(n)]) {
            CHECK(++sameFrame[static_cast<size_t>(n)] <= 2 * (1 + kMaxRetries));
        } else {
            lastFrame[static_cast<size_t>(n)] = frame;
            sameFrame[static_cast<size_t>(n)] = 1;
        }
        net.sent(frame, card);
        return true;
    }
    void arm(int job, int milliseconds) override { deadline[static_cast<size_t>(job)] = net.now + milliseconds; }
    void stop(int job) override { deadline[static_cast<size_t>(job)] = -1; }
    qint64 now() const override { return net.now; }
    void progress(int, int, const std::function<QString()>&) override {}
    void finished() override
    {
        CHECK(!done);
        done = true;
    }

    // The earliest time-out armed, -1 when none.
    int earliestTimer() const
    {
        int job = -1;
        for (int n = 0; n < count; ++n) {
            if (deadline[static_cast<size_t>(n)] >= 0 &&
                (job < 0 || deadline[static_cast<size_t>(n)] < deadline[static_cast<size_t>(job)]))
                job = n;
        }
        return job;
    }

    // The next event; false when there is none.
    bool step(Engine& engine)
    {
        const int job = earliestTimer();
        if (!net.inFlight.empty() && (job < 0 || net.inFlight.front().due <= deadline[static_cast<size_t>(job)])) {
            for (const Network::Datagram& d : net.takeFirst()) {
                if (tracing())
                    std::fprintf(stderr, "%6lld  <- %s\n", static_cast<long long>(net.now),
                                 d.bytes.toHex().constData());
                engine.arrival(d.bytes, d.card);
            }
            return true;
        }
        if (job < 0)
            return false;
        net.now = std::max(net.now, deadline[static_cast<size_t>(job)]);
        deadline[static_cast<size_t>(job)] = -1;
        if (tracing())
            std::fprintf(stderr, "%6lld  time-out %d\n", static_cast<long long>(net.now), job);
        engine.expired(job);
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    World world;
    const uint8_t header = in.byte();
    world.count = 1 + (header & 3);
    const int limit = (header >> 3) & 3;
    world.net.copies = header & 0x20;
    const bool anonymous = header & 0x40;
    const uint8_t silent = in.byte();

    QList<Job> jobs;
    QList<Device> listed;
    world.net.modules.assign(templates().begin(), templates().begin() + world.count);
    for (int n = 0; n < world.count; ++n) {
        fuzz::Module& m = world.net.modules[static_cast<size_t>(n)];
        const uint8_t setup = in.byte();
        m.card = 2 + ((setup >> 3) & 1);
        m.leavesIdentityOut = anonymous && n == 0;
        Job job;
        job.module = Device::fromDiscovery(m.discovery, m.card);
        // As the scan saw it: on a network that copies, its discovery reply came twice in a round.
        job.module.copiesSeen = world.net.copies;
        static const Task kTasks[] = {Task::Read, Task::Write, Task::Defaults, Task::Read};
        job.task = setup & 4 ? Task::Reset : kTasks[setup & 3];
        job.verify = !(setup & 0x10);
        if ((setup & 3) == 3) {
            for (int i = n % 3; i < kParameterCount; i += 3)
                job.only.append(i);
        }
        if (job.task == Task::Write) {
            // Every third parameter: values of another module, and with bit 5 one it refuses.
            const fuzz::Module& other = templates()[static_cast<size_t>((n + 1) % kModules)];
            for (int i = n % 3; i < kParameterCount; i += 3)
                job.values[static_cast<size_t>(i)] = other.held(kParameters[i]);
            if (setup & 0x20) {
                const int i = n % 3;
                job.values[static_cast<size_t>(i)] = kParameters[i].isDropDown()
                                                         ? frames::FieldValue{kParameters[i].entries.count, {}}
                                                         : frames::FieldValue{-1, QStringLiteral("99999999")};
            }
        }
        m.silent = silent & (1 << n);
        jobs << job;
        listed << Device::fromDiscovery(m.discovery, m.card);
    }

    Engine engine(world, world, world, limit);
    engine.start(jobs, listed);
    bool foreignScan = false;
    while (!in.atEnd() && !world.done) {
        switch (in.byte() % 8) {
        case 3:
            world.net.loseFirst();
            break;
        case 4:
            world.net.delayFirst(100 * (1 + in.byte() % 16));
            break;
        case 5:
            world.net.loseNextFrame = true;
            break;
        case 6: {
            // Another module's identity, or one nobody has: never while a module that leaves its
            // identity out is in the run (nothing could tell the stranger from it).
            static const QByteArray kTails[] = {"05", "00100", "010.000.001.002", "OK", "ER", "0"};
            const uint8_t pick = in.byte();
            if (anonymous)
                break;
            const QByteArray identity = pick & 8 ? QByteArray::fromHex("aabbccddeeff") : identityOf(kModules + 1);
            world.net.arrive(identity + kTails[pick % std::size(kTails)], 2 + (pick >> 7), world.net.now, -1);
            break;
        }
        case 7: {
            const int n = in.byte() % world.count;
            if (!foreignScan) {
                foreignScan = true;
                const fuzz::Module& m = world.net.modules[static_cast<size_t>(n)];
                world.net.arrive(m.discovery, m.card, world.net.now, n);
            }
            break;
        }
        default:
            world.step(engine);
            break;
        }
    }
    for (int guard = 0; guard < 100000 && !world.done; ++guard)
        CHECK(world.step(engine));
    CHECK(world.done && engine.isFinished());

    const QList<Outcome> outcomes = engine.outcomes();
    for (int n = 0; n < world.count; ++n) {
        const Outcome& o = outcomes[n];
        const Job& job = jobs[n];
        const fuzz::Module& m = world.net.modules[static_cast<size_t>(n)];
        if (silent & (1 << n))
            CHECK(!o.ok || job.task == Task::Reset);
        if (!o.ok)
            continue;
        switch (job.task) {
        case Task::Read:
            for (const Parameter& p : kParameters) {
                const auto i = static_cast<size_t>(indexOf(p));
                const bool asked = job.only.isEmpty() || job.only.contains(static_cast<int>(i));
                const frames::FieldValue held = m.held(p);
                if (tracing() && asked && o.values[i] &&
                    (o.values[i]->index != held.index || o.values[i]->text != held.text))
                    std::fprintf(stderr, "module %d %s: read %d \"%s\", holds %d \"%s\"\n", n, p.name,
                                 o.values[i]->index, qPrintable(o.values[i]->text), held.index, qPrintable(held.text));
                CHECK(o.values[i].has_value() == asked);
                CHECK(!asked || (o.values[i]->index == held.index && o.values[i]->text == held.text));
            }
            break;
        case Task::Write:
            for (const Parameter& p : kParameters) {
                const auto i = static_cast<size_t>(indexOf(p));
                if (job.values[i])
                    CHECK(paramfile::sameValue(p, *job.values[i], m.held(p)));
            }
            CHECK(o.verified == job.verify || o.verified);
            break;
        case Task::Defaults:
            CHECK(m.holds == m.factory);
            if (tracing()) {
                for (const Parameter& p : kParameters) {
                    const auto& v = o.values[static_cast<size_t>(indexOf(p))];
                    const frames::FieldValue h = m.held(p);
                    if (!v || v->index != h.index || v->text != h.text)
                        std::fprintf(stderr, "module %d %s: reported %d \"%s\", holds %d \"%s\"\n", n, p.name,
                                     v ? v->index : -2, v ? qPrintable(v->text) : "", h.index, qPrintable(h.text));
                }
            }
            CHECK(holdsExactly(m, o.values));
            break;
        case Task::Reset:
            break;
        }
    }
    return 0;
}
