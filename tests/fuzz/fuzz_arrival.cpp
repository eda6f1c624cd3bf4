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
//   then, per action, one byte (kind % 8):
//     0-2  a datagram: two length bytes (little endian), then that many bytes; it arrives on no
//          card the system named (0), on card 2 (1) or on card 3 (2)
//     3    a long datagram: two length bytes, one pattern-length byte, the pattern; the pattern is
//          repeated up to the length, so datagrams of up to 65,507 bytes are cheap to reach
//     4    Timer1 expires
//     5    a click: next byte picks Scan, a pick in the list, Setting, defaults or Run
//     6    the user selects list item (next byte), or nothing
//     7    a datagram of exactly 0, 1, 5, 6, 7, 8, 11 or 21 bytes (next byte picks), then its bytes
//
// Every datagram is handed over in a heap block of exactly its own size, so that a read past its
// end is an AddressSanitizer report; after every action the operation state, the device list and
// the frames sent are checked against the rules the tool keeps. The modules of the table answered on
// cards 2 and 3 in turn, so that copies heard on the other card are explored too.
#include "check.h"
#include "link/frames.h"
#include "ops/operations.h"
#include "support/fakes.h"

#include <QByteArray>

#include <algorithm>
#include <array>
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

class Reader
{
public:
    Reader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
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
    while (!in.atEnd()) {
        // Only a reset removes a module; every other action keeps the table as it was or adds to it,
        // so the table after it holds every module a frame may address.
        const int kind = in.byte() % 8;
        const int click = kind == 5 ? in.byte() % 5 : -1;
        if (click == 4)
            run.keepListed();
        switch (kind) {
        case 0:
        case 1:
        case 2: {
            const size_t n = std::min<size_t>({static_cast<size_t>(in.length()), in.left(), kMaxDatagram});
            run.arrive(run.datagrams.make(in.take(n), n), kind == 0 ? kAnyCard : 1 + kind);
            break;
        }
        case 3: {
            const size_t n = std::min<size_t>(static_cast<size_t>(in.length()), kMaxDatagram);
            const size_t patternSize = std::min<size_t>(in.byte(), in.left());
            run.arrive(run.datagrams.repeated(in.take(patternSize), patternSize, n));
            break;
        }
        case 4:
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
            run.arrive(run.datagrams.make(in.take(n), n));
            break;
        }
        }
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
