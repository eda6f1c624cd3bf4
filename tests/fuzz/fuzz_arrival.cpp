// libFuzzer target: arbitrary datagrams through the reply dispatcher, under every Op_Code the tool
// can be in (and the values in between that it never reaches), with an empty, a populated and a
// full device table, mixed with time-outs and clicks so that whole chains of replies are explored.
//
// Input: four header bytes, then a stream of actions.
//   byte 0  Op_Code, picked from kOpCodes
//   byte 1  device table: bits 0-1 empty / one module / a few modules / all 254; bit 2 gives the
//           discovery replies long tails
//   byte 2  Sel_Device (0 .. Device_Count) and the selected list item
//   byte 3  Retry_Count (bits 0-1) and Scan_Round (bits 2-4)
//   then, per action, one byte (kind % 13):
//     0-2  a datagram: two length bytes (little endian), then that many bytes; it arrives on no
//          card the system named (0), on card 2 (1) or on card 3 (2)
//     3    a long datagram: two length bytes, one pattern-length byte, the pattern; the pattern is
//          repeated up to the length, so datagrams of up to 65,507 bytes are cheap to reach
//     4    Timer1 expires
//     5    a click: next byte picks Scan, a pick in the list, Setting, defaults or Run
//     6    the user selects list item (next byte), or nothing
//     7    a datagram of exactly 0, 1, 5, 6, 7, 8, 11 or 21 bytes (next byte picks), then its bytes
//   and the listed modules answer what the tool sends them (a query with its value, a setting and
//   restoring defaults with "OK"); their replies wait until the input lets them arrive:
//     8    a waiting reply arrives (next byte picks), on its module's card
//     9    a waiting reply is lost (next byte picks)
//     10   a reply that arrived comes again, late (next byte picks): a copy the network made
//     11   a waiting reply arrives on the other card, and still waits
//     12   a stranger's reply (an identity no module listed has) of a one-digit value, a number or
//          an address (next byte picks)
//
// Every datagram is handed over in a heap block of exactly its own size, so that a read past its
// end is an AddressSanitizer report; after every action the operation state, the device list and
// the frames sent are checked against the rules the tool keeps. The modules of the table answered on
// cards 2 and 3 in turn, so that copies heard on the other card are explored too. A read that ends
// with its success entry shows exactly the values its module holds, unless, while it ran, a datagram
// the modules did not send carried the module's identity (a forgery no rule can see), one was taken
// without the identity check from a module never yet seen with its identity, or a copy the network
// made arrived while a query of the same kind without an earlier answer waited (the case the README
// names); such reads are counted, and the counts printed when the process ends.
#include "check.h"
#include "link/frames.h"
#include "ops/decode.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"
#include "ops/operations.h"
#include "ops/replyrule.h"
#include "support/fakes.h"

#include <QByteArray>
#include <QHash>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace tarvik;

namespace {

constexpr int kMaxDatagram = 65507; // largest UDP payload over IPv4

// Every value Op_Code takes (0, 1-32, 40, 101-132) and values between and beyond them.
const std::vector<qint16>& opCodes()
{
    static const std::vector<qint16> codes = [] {
        std::vector<qint16> v;
        for (int i = 0; i <= 32; ++i)
            v.push_back(static_cast<qint16>(i));
        for (int i = 101; i <= 132; ++i)
            v.push_back(static_cast<qint16>(i));
        for (int i : {40, 40, 40, 33, 34, 39, 41, 50, 99, 100, 133, 140, 200, 1000, 32766, 32767, -1, -2, -100, -32768})
            v.push_back(static_cast<qint16>(i));
        return v;
    }();
    return codes;
}

// Whether a device list item shows the identity of a table entry, checked in place: the check runs
// after every action, and the full list at the end of every run.
bool itemShows(const QString& item, const QByteArray& entry)
{
    static const QString kExample = Operations::deviceItemText(QByteArrayView("\0\0\0\0\0\0", 6));
    static const qsizetype kDigits = kExample.indexOf(QLatin1Char('0'));
    if (item.size() != kExample.size() || entry.size() < frames::kIdentitySize)
        return false;
    if (QStringView(item).first(kDigits) != QStringView(kExample).first(kDigits) ||
        QStringView(item).sliced(kDigits + 12) != QStringView(kExample).sliced(kDigits + 12))
        return false;
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < frames::kIdentitySize; ++i) {
        const auto byte = static_cast<quint8>(entry[i]);
        if (item[kDigits + 2 * i] != QLatin1Char(kHexDigits[byte >> 4]) ||
            item[kDigits + 2 * i + 1] != QLatin1Char(kHexDigits[byte & 0xF]))
            return false;
    }
    return true;
}

// What the listed modules answer: module n (the identity test::identity(n)) holds for each parameter
// a value that differs between parameters and modules wherever the layout allows, so that a value
// shown in the wrong field, or another module's, is seen. Built once.
struct ModuleWorld
{
    static constexpr int kModules = kDeviceTableSize + 1;
    std::vector<std::array<QByteArray, kParameterCount>> replies; // by module number, then parameter
    std::vector<std::array<frames::FieldValue, kParameterCount>> held;
    QHash<QByteArray, int> queries;           // a query's bytes after the identity -> parameter
    std::vector<QByteArray> acknowledgements; // by module number
    QByteArray ok = QByteArrayLiteral("OK");

    ModuleWorld() : replies(kModules + 1), held(kModules + 1), acknowledgements(kModules + 1)
    {
        for (const Parameter& p : kParameters)
            queries.insert(frames::query(test::identity(1), p).mid(frames::kIdentitySize), indexOf(p));
        for (int n = 1; n <= kModules; ++n) {
            acknowledgements[static_cast<size_t>(n)] = test::identity(n) + ok;
            for (const Parameter& p : kParameters) {
                const int i = indexOf(p);
                QByteArray value;
                switch (p.layout) {
                case Layout::Digit:
                case Layout::ZeroDigit:
                    value = QByteArray("0") + static_cast<char>(p.base + (n * 7 + i * 3) % p.entries.count);
                    break;
                case Layout::Number4:
                    value = QByteArray("0") + QByteArray::number(1000 + (n * 131 + i * 17) % 9000);
                    break;
                case Layout::Number5:
                    value = QByteArray::number(10000 + (n * 977 + i * 31) % 55000);
                    break;
                case Layout::Address:
                    value = QStringLiteral("%1.%2.%3.%4")
                                .arg(n % 256, 3, 10, QLatin1Char('0'))
                                .arg(i, 3, 10, QLatin1Char('0'))
                                .arg(n * 13 % 256, 3, 10, QLatin1Char('0'))
                                .arg(i * 7 % 256, 3, 10, QLatin1Char('0'))
                                .toLatin1();
                    break;
                }
                const QByteArray reply = test::identity(n) + value;
                const decode::Value decoded = decode::reply(p, reply);
                replies[static_cast<size_t>(n)][static_cast<size_t>(i)] = reply;
                held[static_cast<size_t>(n)][static_cast<size_t>(i)] = {decoded.entry, decoded.text};
            }
        }
    }

    // The module number of an identity of the table's modules; 0 for any other.
    static int moduleOf(QByteArrayView head)
    {
        // test::identity(n): 02 00 00 00, then n in two bytes.
        if (head.size() < frames::kIdentitySize || head[0] != 2 || head[1] != 0 || head[2] != 0 || head[3] != 0)
            return 0;
        const int n = (static_cast<quint8>(head[4]) << 8) | static_cast<quint8>(head[5]);
        return n >= 1 && n <= kModules ? n : 0;
    }
};

const ModuleWorld& world()
{
    static const ModuleWorld instance;
    return instance;
}

// Whether two layouts' replies have lengths of one class (a one-digit value, a number, an address).
int lengthClass(const Parameter& p)
{
    return rule::shortest(p.layout);
}

// How many reads ended in success, checked or not, and why not: printed when the process ends.
struct ReadCounts
{
    long checked = 0;
    long forged = 0;       // a datagram the modules did not send carried the module's identity
    long unidentified = 0; // taken without the check, from a module never seen with its identity
    long copies = 0;       // a copy the network made, while a query of its kind waited, first time
    long rejected = 0;     // a late "OK" the read rejected as a one-digit value, with its message
    long held = 0;         // a late reply held, and taken at the deadline of a query whose reply was lost
    ~ReadCounts()
    {
        if (checked + forged + unidentified + copies + rejected + held > 0)
            std::fprintf(stderr,
                         "fuzz_arrival: reads that succeeded: %ld checked; not checked: %ld with a forged reply, "
                         "%ld with one taken unidentified, %ld with a network copy of a reply of the kind awaited, "
                         "%ld with a late acknowledgement rejected as a value, %ld with a late reply held and "
                         "taken at the deadline of a query whose reply was lost\n",
                         checked, forged, unidentified, copies, rejected, held);
    }
};
ReadCounts readCounts;

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    int length()
    {
        const int low = byte();
        return low | (byte() << 8);
    }
    const uint8_t* take(size_t n)
    {
        const uint8_t* p = m_data + m_pos;
        m_pos += n;
        return p;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Datagrams live in blocks of exactly their size until the run ends: the device table keeps
// copies that may share them.
class Datagrams
{
public:
    QByteArray make(const uint8_t* bytes, size_t size)
    {
        m_blocks.emplace_back(new char[size == 0 ? 1 : size]);
        char* block = m_blocks.back().get();
        if (size)
            std::memcpy(block, bytes, size);
        // The endpoint hands over an owning array; wrapping the exact block keeps ASan's red zone
        // right behind the last byte.
        return QByteArray::fromRawData(block, static_cast<qsizetype>(size));
    }
    QByteArray repeated(const uint8_t* pattern, size_t patternSize, size_t size)
    {
        // Filled in place, the filled part doubling at each step: a 64 KB datagram of a one-byte
        // pattern takes 17 copies, not 65,507.
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

struct Run
{
    Run()
    {
        // A fixed stamp: the log's form is checked by the unit tests; here it would only cost time.
        rig.ops.setClock([] { return QStringLiteral("T"); });
        // Nothing here reads the log back; a short one keeps trimming cheap.
        rig.panel.logLineLimit = 8;
    }

    Datagrams datagrams; // outlives the table that may share its blocks
    test::Rig rig;

    OperationState& state() { return rig.state; }

    // The identity and card of every live entry, kept before a reset: the only action that removes
    // one. The list is reused from run to run, so that keeping it allocates nothing.
    struct Listed
    {
        std::array<char, frames::kIdentitySize> identity;
        int card;
    };
    static std::vector<Listed>& listedBefore()
    {
        static std::vector<Listed> list = [] {
            std::vector<Listed> v;
            v.reserve(kDeviceTableSize);
            return v;
        }();
        return list;
    }
    void keepListed()
    {
        std::vector<Listed>& list = listedBefore();
        list.clear();
        for (int i = 0; i < state().Device_Count; ++i) {
            const auto entry = static_cast<size_t>(i);
            Listed listed{{}, state().Device_Card[entry]};
            std::memcpy(listed.identity.data(), state().Device_Table[entry].constData(), frames::kIdentitySize);
            list.push_back(listed);
        }
    }

    void checkState()
    {
        const OperationState& s = state();
        CHECK(s.Device_Count >= 0 && s.Device_Count <= kDeviceTableSize);
        CHECK(rig.panel.items.size() == s.Device_Count);
        CHECK(s.Retry_Count >= 0 && s.Retry_Count <= 2);
        // Scan may be clicked again while a scan runs: each click counts a broadcast.
        CHECK(s.Scan_Round >= 0);
        CHECK(rig.panel.selected >= -1 && rig.panel.selected < rig.panel.items.size());
        if (s.Device_Count > 0) {
            const QByteArray& last = s.Device_Table[static_cast<size_t>(s.Device_Count - 1)];
            CHECK(last.size() >= frames::kIdentitySize);
            // Most actions leave the list alone: the pair is looked at again only when it changed.
            const Checked now{s.Device_Count, rig.panel.items.last().constData(), last.constData()};
            if (now != m_checked)
                CHECK(itemShows(rig.panel.items.last(), last));
            m_checked = now;
        }
    }

    struct Checked
    {
        int count = 0;
        const QChar* item = nullptr;
        const char* entry = nullptr;
        bool operator!=(const Checked& other) const
        {
            return count != other.count || item != other.item || entry != other.entry;
        }
    };
    Checked m_checked;

    // Frames are built only from live entries: every frame but "SETUP" starts with the identity
    // of a module that was listed before or after the action, and goes through that module's card.
    void checkFrames(bool afterReset)
    {
        if (rig.link.sent.isEmpty())
            return;
        CHECK(rig.link.sentCards.size() == rig.link.sent.size());
        const OperationState& s = state();
        for (qsizetype f = 0; f < rig.link.sent.size(); ++f) {
            const QByteArray& frame = rig.link.sent[f];
            const int card = rig.link.sentCards[f];
            if (frame == frames::discovery()) {
                CHECK(card == kAnyCard); // the fake has no cards: the routing table
                continue;
            }
            CHECK(frame.size() >= 9);
            const QByteArrayView head(frame.constData(), frames::kIdentitySize);
            bool known = false;
            for (int i = 0; i < s.Device_Count && !known; ++i) {
                const auto entry = static_cast<size_t>(i);
                known = s.Device_Table[entry].startsWith(head) && s.Device_Card[entry] == card;
            }
            for (size_t i = 0; afterReset && i < listedBefore().size() && !known; ++i) {
                const Listed& listed = listedBefore()[i];
                known = head == QByteArrayView(listed.identity.data(), frames::kIdentitySize) && listed.card == card;
            }
            CHECK(known);
        }
        rig.link.clear();
    }

    void arrive(const QByteArray& datagram, int card = kAnyCard) { rig.ops.Winsock_DataArrival(datagram, card); }

    // ---- The modules' replies --------------------------------------------------------------------

    struct Reply
    {
        QByteArray bytes;
        int card;
        int module;    // its number
        int parameter; // -1: an acknowledgement
    };
    std::vector<Reply> waiting; // made by a module, not yet arrived
    std::vector<Reply> arrived; // for the copies the network makes

    // Every frame the tool sent to a listed module gets that module's answer. Runs before the
    // frames are checked (and cleared).
    void answerFrames()
    {
        for (qsizetype f = 0; f < rig.link.sent.size(); ++f) {
            const QByteArray& frame = rig.link.sent[f];
            const int n = ModuleWorld::moduleOf(frame);
            if (n == 0)
                continue;
            const QByteArray tail = QByteArray::fromRawData(frame.constData() + frames::kIdentitySize,
                                                            frame.size() - frames::kIdentitySize);
            const int parameter = world().queries.value(tail, -1);
            if (parameter >= 0)
                waiting.push_back({world().replies[static_cast<size_t>(n)][static_cast<size_t>(parameter)],
                                   rig.link.sentCards[f], n, parameter});
            else if (tail.contains('=') || tail == "ATDF\r")
                waiting.push_back({world().acknowledgements[static_cast<size_t>(n)], rig.link.sentCards[f], n, -1});
            if (waiting.size() > 64)
                waiting.erase(waiting.begin());
        }
    }

    // ---- The read that the checks follow ----------------------------------------------------------

    struct Watch
    {
        bool active = false;
        int module = 0;   // its number
        int selected = 0; // its index in the table
        enum Exemption
        {
            None,
            Forged,
            Unidentified,
            Copies,
            Rejected,
            Held
        } exemption = None;
        int heldAt = 0; // the stage awaited when a late reply of another parameter of its kind came
        std::array<bool, kParameterCount> earlier{}; // answered by a module reply in an earlier attempt
        std::array<bool, kParameterCount> current{}; // ... in this attempt
    };
    Watch watch;
    // Modules whose replies the network has copied, or of which a read may have taken something
    // else for an answer: which of their replies the tool has seen is no longer known here.
    std::bitset<ModuleWorld::kModules + 1> uncertain;

    const Parameter* awaitedParameter() const
    {
        const OperationState& s = rig.state;
        if (!watch.active || !s.Awaiting_Reply || route(s.Op_Code) != Branch::Read || s.Sel_Device != watch.selected)
            return nullptr;
        return parameterForStage(s.Op_Code);
    }

    // What the tool may then take for an answer is not the module's: its count of the replies still
    // owed is no longer known here either.
    void exempt(Watch::Exemption why)
    {
        if (watch.exemption == Watch::None)
            watch.exemption = why;
        uncertain.set(static_cast<size_t>(watch.module));
    }

    // A datagram the modules did not send, about to arrive.
    void foreign(const QByteArray& datagram)
    {
        if (!awaitedParameter() || datagram.size() < frames::kIdentitySize)
            return;
        const QByteArrayView head(datagram.constData(), frames::kIdentitySize);
        const OperationState& s = rig.state;
        if (ModuleWorld::moduleOf(head) == watch.module) {
            exempt(Watch::Forged);
            return;
        }
        bool listed = false;
        for (int i = 0; i < s.Device_Count && !listed; ++i)
            listed = s.Device_Table[static_cast<size_t>(i)].startsWith(head);
        if (!listed && !s.Device_Identified[static_cast<size_t>(watch.selected)])
            exempt(Watch::Unidentified);
    }

    // A reply of a module's, about to arrive; `copy`: one the network made of a reply that arrived.
    void moduleReply(const Reply& reply, bool copy)
    {
        const Parameter* awaited = awaitedParameter();
        if (!awaited)
            return;
        if (reply.module != watch.module) { // another module's, possibly one no longer listed
            foreign(reply.bytes);
            return;
        }
        // A late "OK" where a one-digit value is awaited: the read rejects it with the field's message
        // and goes on, leaving the field as it was.
        if (reply.parameter < 0) {
            if (awaited->isDropDown())
                exempt(Watch::Rejected);
            return;
        }
        const auto j = static_cast<size_t>(indexOf(*awaited));
        const auto t = static_cast<size_t>(reply.parameter);
        if (copy)
            uncertain.set(static_cast<size_t>(reply.module));
        if (t == j) {
            watch.current[j] = true;
            watch.heldAt = 0;
            return;
        }
        // A late reply to a query the tool repeated is owed, and so told apart; a copy the network
        // made, or a reply whose query this read has not had answered, is not, and where a query of
        // its kind waits for the first time it is taken. Nor is one too many, when the module holds
        // the same bytes for another parameter or the network has copied replies: an answer or a copy
        // may have been counted as the late one. A copy of equal bytes shows the right value.
        const auto& replies = world().replies[static_cast<size_t>(watch.module)];
        const bool told = !uncertain.test(static_cast<size_t>(reply.module)) &&
                          (watch.current[t] || watch.earlier[t]) &&
                          std::count(replies.begin(), replies.end(), reply.bytes) == 1;
        const bool fits = lengthClass(kParameters[t]) == lengthClass(*awaited) && reply.bytes != replies[j];
        if (!told && !watch.earlier[j] && fits)
            exempt(Watch::Copies);
        if (fits)
            watch.heldAt = rig.state.Op_Code;
    }

    // Timer1 is about to expire: a reply held as a late copy is taken as the answer of the query
    // in flight, which is its right value unless the query's own reply was lost.
    void expiring()
    {
        if (awaitedParameter() && watch.heldAt == rig.state.Op_Code)
            exempt(Watch::Held);
    }

    // After every action: a read that starts, starts again or ends.
    void followRead(bool queriedFirstStage)
    {
        const OperationState& s = rig.state;
        if (queriedFirstStage && route(s.Op_Code) == Branch::Read && s.Awaiting_Reply) {
            const int module =
                s.selectionIsLive() ? ModuleWorld::moduleOf(s.Device_Table[static_cast<size_t>(s.Sel_Device)]) : 0;
            if (s.Retry_Count == 0 || !watch.active || watch.selected != s.Sel_Device) {
                watch = Watch();
                watch.active = module != 0;
                watch.module = module;
                watch.selected = s.Sel_Device;
            } else {
                for (size_t i = 0; i < watch.earlier.size(); ++i)
                    watch.earlier[i] = watch.earlier[i] || watch.current[i];
                watch.current = {};
            }
            return;
        }
        // A reset took the module off the list: what the read goes on with is no longer its.
        if (watch.active && (!s.selectionIsLive() || s.Sel_Device != watch.selected ||
                             ModuleWorld::moduleOf(s.Device_Table[static_cast<size_t>(s.Sel_Device)]) != watch.module))
            watch.active = false;
        if (!watch.active || (s.Awaiting_Reply && route(s.Op_Code) == Branch::Read))
            return;
        watch.active = false;
        static const QString kSucceeded = QString::fromUtf8(msg::kReadSucceeded);
        if (s.Op_Code != kLastReadStage || s.Sel_Device != watch.selected || !rig.panel.log.endsWith(kSucceeded))
            return;
        switch (watch.exemption) {
        case Watch::Forged:
            ++readCounts.forged;
            return;
        case Watch::Unidentified:
            ++readCounts.unidentified;
            return;
        case Watch::Copies:
            ++readCounts.copies;
            return;
        case Watch::Rejected:
            ++readCounts.rejected;
            return;
        case Watch::Held:
            ++readCounts.held;
            return;
        case Watch::None:
            break;
        }
        ++readCounts.checked;
        const auto& held = world().held[static_cast<size_t>(watch.module)];
        for (const Parameter& p : kParameters) {
            const frames::FieldValue& value = held[static_cast<size_t>(indexOf(p))];
            const bool shown = p.isDropDown() ? rig.panel.comboIndex(fieldOf(p)) == value.index
                                              : rig.panel.fieldText(fieldOf(p)) == value.text;
            if (!shown)
                std::fprintf(stderr, "module %d, %s: shows \"%s\" / %d, holds \"%s\" / %d\n", watch.module, p.name,
                             qPrintable(rig.panel.fieldText(fieldOf(p))), rig.panel.comboIndex(fieldOf(p)),
                             qPrintable(value.text), value.index);
            CHECK(shown);
        }
    }
};

// The modules a run starts with, built once: every run shares them (implicitly shared bytes), so
// that filling a table of 254 costs no allocation.
struct Modules
{
    std::vector<QByteArray> replies[2]; // discovery replies of modules 1..255, without and with long tails
    QStringList items[2];               // their device list items

    Modules()
    {
        for (int tails = 0; tails < 2; ++tails) {
            for (int n = 1; n <= kDeviceTableSize + 1; ++n) {
                QByteArray reply = test::discoveryReply(n);
                if (tails)
                    reply += QByteArray(200 + n, static_cast<char>(n));
                replies[tails].push_back(reply);
                items[tails] << Operations::deviceItemText(frames::identityOf(reply));
            }
        }
    }
};

void populate(Run& run, uint8_t tableByte)
{
    static const Modules modules;
    const int mode = tableByte & 3;
    const int count = mode == 0 ? 0 : mode == 1 ? 1 : mode == 2 ? 2 + (tableByte >> 3) % 7 : kDeviceTableSize;
    const int tails = (tableByte & 4) ? 1 : 0;
    // A full table: all but the last two modules are put in place as discovery leaves them; the
    // last two go through discovery, and with them the search through a nearly full table.
    const int placed = std::max(0, count - 2);
    run.rig.panel.items.reserve(count);
    OperationState& s = run.state();
    // Module n answered on card 2 + n % 2.
    const auto cardOf = [](int index) { return 2 + (index + 1) % 2; };
    for (int i = 0; i < placed; ++i) {
        s.Device_Table[static_cast<size_t>(i)] = modules.replies[tails][static_cast<size_t>(i)];
        s.Device_Card[static_cast<size_t>(i)] = cardOf(i);
        run.rig.panel.items.append(modules.items[tails][i]);
    }
    s.Device_Count = static_cast<qint16>(placed);
    for (int i = placed; i < count; ++i)
        run.arrive(modules.replies[tails][static_cast<size_t>(i)], cardOf(i));
    // One more: the table is full, so this one is not stored.
    if (count == kDeviceTableSize)
        run.arrive(modules.replies[tails][kDeviceTableSize]);
    CHECK(run.state().Device_Count == count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    Run run;
    OperationState& s = run.state();

    const auto& codes = opCodes();
    const qint16 opCode = codes[in.byte() % codes.size()];
    populate(run, in.byte());
    const uint8_t selection = in.byte();
    s.Sel_Device = static_cast<qint16>(selection % (s.Device_Count + 1));
    run.rig.panel.selected = (selection & 0x80) || s.Device_Count == 0 ? -1 : s.Sel_Device % s.Device_Count;
    const uint8_t counters = in.byte();
    s.Retry_Count = static_cast<qint16>((counters & 3) % 3);
    s.Scan_Round = static_cast<qint16>((counters >> 2) % 5);
    s.Op_Code = opCode;
    run.rig.link.clear();
    run.checkState();

    constexpr int kShortSizes[] = {0, 1, 5, 6, 7, 8, 11, 21};
    static const QByteArray kStrangers[] = {QByteArray::fromHex("aabbccddeeff") + "01",
                                            QByteArray::fromHex("aabbccddeeff") + "00010",
                                            QByteArray::fromHex("aabbccddeeff") + "010.000.000.001"};
    static const QByteArray kFirstQuery = frames::query(test::identity(1), kParameters[0]).mid(frames::kIdentitySize);
    const auto pick = [&in](std::vector<Run::Reply>& list) -> qsizetype {
        return list.empty() ? -1 : static_cast<qsizetype>(in.byte() % list.size());
    };
    const auto foreign = [&run](const QByteArray& datagram, int card = kAnyCard) {
        run.foreign(datagram);
        run.arrive(datagram, card);
    };
    while (!in.atEnd()) {
        // Only a reset removes a module; every other action keeps the table as it was or adds to it,
        // so the table after it holds every module a frame may address.
        const int kind = in.byte() % 13;
        const int click = kind == 5 ? in.byte() % 5 : -1;
        if (click == 4)
            run.keepListed();
        switch (kind) {
        case 0:
        case 1:
        case 2: {
            const size_t n = std::min<size_t>({static_cast<size_t>(in.length()), in.left(), kMaxDatagram});
            foreign(run.datagrams.make(in.take(n), n), kind == 0 ? kAnyCard : 1 + kind);
            break;
        }
        case 3: {
            const size_t n = std::min<size_t>(static_cast<size_t>(in.length()), kMaxDatagram);
            const size_t patternSize = std::min<size_t>(in.byte(), in.left());
            foreign(run.datagrams.repeated(in.take(patternSize), patternSize, n));
            break;
        }
        case 4:
            run.expiring();
            run.rig.ops.Timer1_Timer();
            break;
        case 5:
            switch (click) {
            case 0:
                run.rig.ops.Scan_Click();
                break;
            case 1:
                run.rig.ops.pickDevice();
                break;
            case 2:
                run.rig.ops.Setting_Click();
                break;
            case 3:
                run.rig.ops.L_Default_Click();
                break;
            case 4:
                run.rig.ops.Run_Device_Click();
                break;
            }
            break;
        case 6: {
            const int item = in.byte();
            const int count = static_cast<int>(run.rig.panel.items.size());
            run.rig.panel.selected = item == 0xFF || count == 0 ? -1 : item % count;
            break;
        }
        case 7: {
            const size_t n = std::min<size_t>(static_cast<size_t>(kShortSizes[in.byte() % 8]), in.left());
            foreign(run.datagrams.make(in.take(n), n));
            break;
        }
        case 8:
        case 9:
        case 11: {
            const qsizetype k = pick(run.waiting);
            if (k < 0)
                break;
            const Run::Reply reply = run.waiting[static_cast<size_t>(k)];
            if (kind != 11)
                run.waiting.erase(run.waiting.begin() + k);
            if (kind == 9)
                break;
            run.moduleReply(reply, kind == 11);
            if (kind == 8) {
                run.arrived.push_back(reply);
                if (run.arrived.size() > 32)
                    run.arrived.erase(run.arrived.begin());
            }
            run.arrive(reply.bytes, kind == 8 ? reply.card : reply.card == 2 ? 3 : 2);
            break;
        }
        case 10: {
            const qsizetype k = pick(run.arrived);
            if (k < 0)
                break;
            const Run::Reply& reply = run.arrived[static_cast<size_t>(k)];
            run.moduleReply(reply, true);
            run.arrive(reply.bytes, reply.card);
            break;
        }
        case 12:
            foreign(kStrangers[in.byte() % 3], 2 + in.byte() % 2);
            break;
        }
        bool queriedFirstStage = false;
        for (const QByteArray& frame : std::as_const(run.rig.link.sent))
            queriedFirstStage = queriedFirstStage || frame.mid(frames::kIdentitySize) == kFirstQuery;
        run.answerFrames();
        run.followRead(queriedFirstStage);
        run.checkState();
        run.checkFrames(click == 4);
    }

    // The whole list still pairs with the table.
    for (int i = 0; i < s.Device_Count; ++i) {
        const QByteArray& entry = s.Device_Table[static_cast<size_t>(i)];
        CHECK(itemShows(run.rig.panel.items[i], entry));
    }
    return 0;
}
