// libFuzzer target: the window's operations on a LAN the input drives (world.h): listed modules that
// answer what the tool sends them, a network that loses, delays and (in a case that copies) doubles
// their datagrams, strangers, other PCs' scans, and the user's clicks, choices and typing; with an
// empty, a populated and a full device table, and datagrams of 0 to 65,507 bytes of any content.
//
// Input: two header bytes, then a stream of actions.
//   byte 0  bit 0: the network copies every module datagram; bits 1-2: the table: empty / one
//           module / 2 to 9 / all 254 (and a 255th that answers); bit 3: module 1 leaves its
//           identity out; bits 4-7: Op_Code, Scan_Round and Retry_Count as a crash may leave them
//   byte 1  the selected list item (0xFF: none)
//   then, per action, one byte (kind % 16) and what it needs:
//     0-5  the next event: the first datagram on its way arrives, or Timer1 expires
//     6    the first datagram on its way is lost      7   it is delayed (next byte: by 100 ms steps)
//     8    the tool's next frame is lost               9   a click (next byte: Scan, a pick in the
//                                                           list, 设置, 默认值, 运行), as the window
//                                                           lets the user click: on what is enabled
//     10   the user selects a list item (next byte)    11  the user types into a field (two bytes)
//     12   a stranger's datagram (next byte: its kind) 13  another PC's scan (once): a module's
//                                                           discovery reply (next byte: which)
//     14   a datagram of any bytes: two length bytes, then the bytes (or a pattern up to 65,507)
//     15   a reply heard on the other card too
//
// Checked after every action: the device list pairs with the table, every frame goes to a listed
// module through its card, and every success the log reports is true: a read shows exactly what the
// module holds, a write left the module holding every value it sent, restoring defaults left it at
// its factory values. Every datagram is handed over in a heap block of exactly its size, so that a
// read past its end is an AddressSanitizer report.
#include "check.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"
#include "ops/operations.h"
#include "support/fakes.h"
#include "world.h"

#include <QByteArray>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using namespace tarvik;
using namespace tarvik::fuzz;

namespace {

// The first stage between two parameters that no parameter has.
qint16 firstGap()
{
    for (const Parameter& p : kParameters) {
        if (gapAfterStage(p.stage) > 0)
            return static_cast<qint16>(p.stage + 1);
    }
    return kLastReadStage + 1;
}

constexpr int kMaxDatagram = 65507; // largest UDP payload over IPv4

// The modules a run may list, built once: runs copy what they use (implicitly shared bytes).
const std::vector<Module>& templates()
{
    static const std::vector<Module> modules = [] {
        std::vector<Module> v;
        for (int n = 1; n <= kDeviceTableSize + 1; ++n)
            v.push_back(Module::number(n, test::identity(n), 2 + n % 2));
        return v;
    }();
    return modules;
}

const QStringList& itemTexts()
{
    static const QStringList texts = [] {
        QStringList t;
        for (const Module& m : templates())
            t << Operations::deviceItemText(m.identity);
        return t;
    }();
    return texts;
}

// Datagrams live in blocks of exactly their size until the run ends: the device table keeps copies
// that may share them.
class Blocks
{
public:
    QByteArray make(const char* bytes, size_t size)
    {
        m_blocks.emplace_back(new char[size == 0 ? 1 : size]);
        if (size)
            std::memcpy(m_blocks.back().get(), bytes, size);
        return QByteArray::fromRawData(m_blocks.back().get(), static_cast<qsizetype>(size));
    }
    QByteArray repeated(const uint8_t* pattern, size_t patternSize, size_t size)
    {
        m_blocks.emplace_back(new char[size == 0 ? 1 : size]);
        char* block = m_blocks.back().get();
        if (patternSize == 0 || size == 0) {
            std::memset(block, 0, size);
        } else {
            size_t done = std::min(patternSize, size);
            std::memcpy(block, pattern, done);
            for (; done < size; done *= 2)
                std::memcpy(block + done, block, std::min(done, size - done));
        }
        return QByteArray::fromRawData(block, static_cast<qsizetype>(size));
    }

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
};

// TARVIK_FUZZ_TRACE=1: every datagram, frame and expiry of a run on stderr (to read a crash file).
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("TARVIK_FUZZ_TRACE");
    return on;
}

struct Run
{
    Run()
    {
        rig.ops.setClock([] { return QStringLiteral("T"); });
        rig.ops.setMonotonicClock([this] { return net.now; });
        rig.panel.logLineLimit = 8;
    }

    Blocks blocks; // outlives the table that may share its blocks
    test::Rig rig;
    Network net;
    qint64 deadline = -1;
    int arms = 0;
    // What each module was last sent for each parameter, by a write: what it must hold after one
    // that succeeds.
    std::vector<std::array<QByteArray, kParameterCount>> lastSet;
    int appends = 0;
    bool foreignScan = false;

    OperationState& state() { return rig.state; }

    void deliver(const QByteArray& bytes, int card)
    {
        if (tracing())
            std::fprintf(stderr, "%6lld  card %d <- %s (Op_Code %d)\n", static_cast<long long>(net.now), card,
                         bytes.toHex().left(60).constData(), rig.state.Op_Code);
        // An exact heap block, so that a read past the end is seen.
        rig.ops.Winsock_DataArrival(blocks.make(bytes.constData(), static_cast<size_t>(bytes.size())), card);
    }

    // The next event: a datagram that is due before the time-out, or the time-out.
    void step()
    {
        const bool timer = rig.panel.timerRunning && deadline >= 0;
        if (!net.inFlight.empty() && (!timer || net.inFlight.front().due <= deadline)) {
            for (const Network::Datagram& d : net.takeFirst())
                deliver(d.bytes, d.card);
        } else if (timer) {
            net.now = std::max(net.now, deadline);
            rig.panel.timerRunning = false;
            if (tracing())
                std::fprintf(stderr, "%6lld  Timer1 (Op_Code %d)\n", static_cast<long long>(net.now),
                             rig.state.Op_Code);
            rig.ops.Timer1_Timer();
        }
    }

    // The module in conversation, when one is, as the conversation knows it.
    const Device* inConversation() const { return rig.ops.isBusy() ? &rig.ops.addressed() : nullptr; }

    // After every action: the frames the tool sent go out (and get their answers), Timer1's
    // deadline follows its arming, and the rules are checked.
    void settle(bool afterReset, const std::vector<QByteArray>& listedBefore)
    {
        for (qsizetype f = 0; f < rig.link.sent.size(); ++f) {
            const QByteArray& frame = rig.link.sent[f];
            const int card = rig.link.sentCards[f];
            if (frame != frames::discovery()) {
                // To a listed module (or one a reset just removed) through its card.
                const QByteArrayView head(frame.constData(), frames::kIdentitySize);
                const int entry = scanning::indexOf(state().Device_Table, state().Device_Count, head);
                bool known = entry >= 0 && state().Device_Table[static_cast<size_t>(entry)].sendCard == card;
                for (size_t i = 0; afterReset && !known && i < listedBefore.size(); ++i)
                    known = QByteArrayView(listedBefore[i]) == head;
                CHECK(known);
                noteSetting(frame);
            }
            if (tracing())
                std::fprintf(stderr, "%6lld  card %d -> %s\n", static_cast<long long>(net.now), card,
                             frame.toHex().constData());
            net.sent(frame, card);
        }
        rig.link.clear();
        if (rig.panel.timerArms != arms) {
            arms = rig.panel.timerArms;
            deadline = net.now + rig.panel.timerInterval;
        }
        checkState();
        checkSuccess();
    }

    void noteSetting(const QByteArray& frame)
    {
        const int m = net.moduleOf(QByteArrayView(frame).first(frames::kIdentitySize));
        if (m < 0 || !frame.contains('='))
            return;
        for (const Parameter& p : kParameters) {
            QByteArray head = QByteArray("AT") + p.code;
            if (p.channel)
                head += p.channel;
            head += '=';
            if (frame.mid(frames::kIdentitySize, head.size()) == head)
                lastSet[static_cast<size_t>(m)][static_cast<size_t>(indexOf(p))] = frame.mid(
                    frames::kIdentitySize + head.size(), frame.size() - frames::kIdentitySize - head.size() - 1);
        }
    }

    void checkState()
    {
        const OperationState& s = state();
        CHECK(s.Device_Count >= 0 && s.Device_Count <= kDeviceTableSize);
        CHECK(rig.panel.items.size() == s.Device_Count);
        CHECK(s.Retry_Count >= 0 && s.Retry_Count <= kMaxRetries);
        CHECK(rig.panel.selected >= -1 && rig.panel.selected < rig.panel.items.size());
        // Most actions leave the list alone: the last pair is looked at again only when it changed.
        if (s.Device_Count > 0 &&
            (s.Device_Count != m_checkedCount || rig.panel.items.last().constData() != m_checkedItem)) {
            CHECK(rig.panel.items.last() ==
                  Operations::deviceItemText(s.Device_Table[static_cast<size_t>(s.Device_Count - 1)].identity));
            m_checkedCount = s.Device_Count;
            m_checkedItem = rig.panel.items.last().constData();
        }
    }
    int m_checkedCount = 0;
    const QChar* m_checkedItem = nullptr;

    // Every success the log reports is true of the module.
    void checkSuccess()
    {
        if (rig.panel.appends == appends)
            return;
        appends = rig.panel.appends;
        static const QString kRead = log::text(msg::kReadSucceeded);
        static const QString kWrite = log::text(msg::kWriteSucceeded);
        static const QString kRestore = log::text(msg::kRestoreSucceeded);
        const QString& entry = rig.panel.lastAppend;
        const bool read = entry.endsWith(kRead);
        const bool write = entry.endsWith(kWrite);
        const bool restore = entry.contains(kRestore);
        if (!read && !write && !restore)
            return;
        // Of the module the operation talked to (which 运行 may have taken off the list meanwhile).
        const int m = net.moduleOf(rig.ops.addressed().identity);
        CHECK(m >= 0);
        const Module& module = net.modules[static_cast<size_t>(m)];
        for (const Parameter& p : kParameters) {
            const auto i = static_cast<size_t>(indexOf(p));
            if (read) {
                const frames::FieldValue held = module.held(p);
                if (tracing() && (p.isDropDown() ? rig.panel.comboIndex(fieldOf(p)) != held.index
                                                 : rig.panel.fieldText(fieldOf(p)) != held.text))
                    std::fprintf(stderr, "%s shows %d \"%s\", module holds %d \"%s\"\n", p.name,
                                 rig.panel.comboIndex(fieldOf(p)), qPrintable(rig.panel.fieldText(fieldOf(p))),
                                 held.index, qPrintable(held.text));
                CHECK(p.isDropDown() ? rig.panel.comboIndex(fieldOf(p)) == held.index
                                     : rig.panel.fieldText(fieldOf(p)) == held.text);
            } else if (write) {
                CHECK(module.holds[i] == Module::stored(p, lastSet[static_cast<size_t>(m)][i]));
            } else {
                CHECK(module.holds[i] == module.factory[i]);
            }
        }
    }
};

// The table as a run starts with it: modules answered the scan on their cards, and are listed. Of a
// full table only the first few answer (and a 255th, which finds no place); the rest stay silent.
void populate(Run& run, int mode, bool anonymous)
{
    constexpr size_t kAnswering = 9;
    const int count = mode == 0 ? 0 : mode == 1 ? 1 : mode == 2 ? 5 : kDeviceTableSize;
    const std::vector<Module>& all = templates();
    run.net.modules.assign(all.begin(), all.begin() + std::min<size_t>(static_cast<size_t>(count), kAnswering));
    if (count == kDeviceTableSize)
        run.net.modules.push_back(all.back());
    // A module that leaves its identity out, alone on the LAN: nothing could tell its late replies
    // from another module's answers.
    if (anonymous && count == 1)
        run.net.modules.front().leavesIdentityOut = true;
    run.lastSet.resize(run.net.modules.size());
    OperationState& s = run.state();
    for (int i = 0; i < count; ++i) {
        const Module& m = all[static_cast<size_t>(i)];
        s.Device_Table[static_cast<size_t>(i)] = Device::fromDiscovery(m.discovery, m.card);
    }
    s.Device_Count = static_cast<qint16>(count);
    run.rig.panel.items = itemTexts().mid(0, count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    Run run;
    OperationState& s = run.state();

    const uint8_t header = in.byte();
    run.net.copies = header & 1;
    populate(run, (header >> 1) & 3, header & 8);
    // As a crash may leave the state: any Op_Code, a scan half done, retries counted.
    static const qint16 kCodes[] = {kOpScan,
                                    kOpScan,
                                    kOpScan,
                                    kOpScan,
                                    kFirstReadStage,
                                    parameterOf(fieldNamed("UART_BaudRate")).stage,
                                    parameterOf(fieldNamed("Ch1_D_Port")).stage,
                                    kLastReadStage,
                                    kOpRestoreDefaults,
                                    kFirstWriteStage,
                                    kLastWriteStage,
                                    firstGap(),
                                    kLastReadStage + 1,
                                    kOpWriteBase - 1,
                                    kOpWriteBase,
                                    -1};
    s.Op_Code = kCodes[header >> 4];
    s.Scan_Round = static_cast<qint16>((header >> 4) % (kScanBroadcasts + 1));
    s.Retry_Count = static_cast<qint16>((header >> 6) % (kMaxRetries + 1));
    const uint8_t selection = in.byte();
    run.rig.panel.selected = selection == 0xFF || s.Device_Count == 0 ? -1 : selection % s.Device_Count;
    run.settle(false, {});

    std::vector<QByteArray> listedBefore;
    while (!in.atEnd()) {
        const int kind = in.byte() % 16;
        if (tracing() && kind >= 6)
            std::fprintf(stderr, "action %d\n", kind);
        bool reset = false;
        switch (kind) {
        case 6:
            run.net.loseFirst();
            break;
        case 7:
            run.net.delayFirst(100 * (1 + in.byte() % 16));
            break;
        case 8:
            run.net.loseNextFrame = true;
            break;
        case 9: {
            const test::FakePanel& panel = run.rig.panel;
            switch (in.byte() % 5) {
            case 0:
                run.rig.ops.Scan_Click();
                break;
            case 1:
                if (panel.isEnabled(Control::Device_List))
                    run.rig.ops.pickDevice();
                break;
            case 2:
                if (panel.isEnabled(Control::Setting))
                    run.rig.ops.Setting_Click();
                break;
            case 3:
                if (panel.isEnabled(Control::L_Default))
                    run.rig.ops.L_Default_Click();
                break;
            case 4:
                if (panel.isEnabled(Control::Run_Device)) {
                    listedBefore.clear();
                    for (int i = 0; i < s.Device_Count; ++i)
                        listedBefore.push_back(s.Device_Table[static_cast<size_t>(i)].identity);
                    run.rig.ops.Run_Device_Click();
                    reset = true;
                }
                break;
            }
            break;
        }
        case 10: {
            // As the list lets the user choose: while it is enabled.
            const int item = in.byte();
            if (run.rig.panel.isEnabled(Control::Device_List))
                run.rig.panel.selected = item == 0xFF || s.Device_Count == 0 ? -1 : item % s.Device_Count;
            break;
        }
        case 11: {
            // A value the module takes, or one it refuses.
            static const char* const kTyped[] = {"99999", "300.1.1.1", "12a", "", "1.2.3.4", "7000", "0100", "9"};
            const Field field = fieldAt(in.byte() % kParameterCount);
            const char* typed = kTyped[in.byte() % std::size(kTyped)];
            // Between operations: what the user types while a read runs is not what the read found.
            if (run.rig.ops.isBusy())
                break;
            if (parameterOf(field).isDropDown())
                run.rig.panel.setComboIndex(field, typed[0] ? typed[0] - '0' - 5 : -1);
            else
                run.rig.panel.setFieldText(field, QString::fromLatin1(typed));
            break;
        }
        case 12: {
            // A stranger: another listed module's identity, or one no module has, which only a module
            // that has shown its own identity can tell from its own answer.
            static const QByteArray kTails[] = {"05", "00100", "010.000.001.002", "OK", "ER", "0"};
            const uint8_t pick = in.byte();
            const Device* talking = run.inConversation();
            QByteArray identity = QByteArray::fromHex("aabbccddeeff");
            if (pick & 8 && s.Device_Count > 1)
                identity = s.Device_Table[static_cast<size_t>((pick >> 4) % s.Device_Count)].identity;
            if (talking && identity == talking->identity)
                break;
            if (talking && !talking->carriesIdentity && scanning::indexOf(s.Device_Table, s.Device_Count, identity) < 0)
                break;
            run.deliver(identity + kTails[pick % std::size(kTails)], 2 + (pick >> 7));
            break;
        }
        case 13: {
            // Another PC scans, once: every module it reaches answers it with its discovery reply.
            // (Twice, timed into the same query of two passes, and no rule could tell them from a
            // module whose answer is its discovery reply.)
            if (!run.net.modules.empty() && !run.foreignScan) {
                run.foreignScan = true;
                const int m = in.byte() % static_cast<int>(run.net.modules.size());
                run.net.arrive(run.net.modules[static_cast<size_t>(m)].discovery,
                               run.net.modules[static_cast<size_t>(m)].card, run.net.now, m);
            }
            break;
        }
        case 14: {
            const size_t n = std::min<size_t>(static_cast<size_t>(in.length()), kMaxDatagram);
            QByteArray datagram;
            if (in.byte() & 1) {
                const size_t patternSize = std::min<size_t>(in.byte(), in.left());
                datagram = run.blocks.repeated(in.take(patternSize), patternSize, n);
            } else {
                const size_t taken = std::min(n, in.left());
                datagram = run.blocks.make(reinterpret_cast<const char*>(in.take(taken)), taken);
            }
            // Never a forgery of the module in conversation's identity: no rule can see one.
            const Device* talking = run.inConversation();
            if (talking && datagram.size() >= frames::kIdentitySize) {
                const QByteArrayView head = QByteArrayView(datagram).first(frames::kIdentitySize);
                const bool listed = scanning::indexOf(s.Device_Table, s.Device_Count, head) >= 0;
                if (head == QByteArrayView(talking->identity) || (!listed && !talking->carriesIdentity))
                    break;
            }
            run.deliver(datagram, in.byte() % 4);
            break;
        }
        case 15:
            if (!run.net.inFlight.empty()) {
                const Network::Datagram d = run.net.inFlight.front();
                run.deliver(d.bytes, d.card == 2 ? 3 : 2);
            }
            break;
        default:
            run.step();
            break;
        }
        run.settle(reset, listedBefore);
    }
    // The list still pairs with the table.
    for (int i = 0; i < s.Device_Count; ++i)
        CHECK(run.rig.panel.items[i] == Operations::deviceItemText(s.Device_Table[static_cast<size_t>(i)].identity));
    return 0;
}
