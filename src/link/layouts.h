// How a read reply carries a value, as one table: where its bytes stand, which must be digits, how
// long the reply is, how large the value may be and how wide a field showing it is. The decoding, the
// reply rule, the parameter files and the window's fields read this table and nothing else about a
// layout.
#pragma once

#include <QtGlobal>

#include <cstddef>
#include <iterator>

namespace tarvik {

// The layouts, in the order of kLayouts.
enum class Layout : quint8
{
    Digit,     // drop-down: one digit in byte 7
    ZeroDigit, // drop-down: "0" in byte 6, the digit in byte 7
    Number4,   // text: four digits in bytes 7-10
    Number5,   // text: five digits in bytes 6-10
    Address,   // text: four 3-digit groups in bytes 6-8, 10-12, 14-16, 18-20
};

// Bytes first..last of a reply (offsets from the start of the datagram), read as digits.
struct DigitRun
{
    qint8 first;
    qint8 last;

    constexpr int size() const { return last - first + 1; }
};

struct LayoutRow
{
    Layout layout;
    const char* name;   // the enumerator's, for what the build writes from this table
    bool dropDown;      // the digit is a drop-down's position (with its base); otherwise the field's text
    qint8 zeroAt;       // "0at": a byte that must hold "0" before the digit; -1: none
    DigitRun runs[4];   // the value's digits, in the order the field shows them; the rest {0, 0}
    char separator;     // joins the runs in the field's text; 0: a single run
    int largest;        // "most": text fields: the largest number a run holds (a setting is refused above it)
    quint8 typingLimit; // "lim": the most characters a field takes as the user types; 0: no limit
    const char* widest; // text fields: the longest text the field must show whole, "0" for any digit

    constexpr int runCount() const
    {
        int count = 0;
        while (count < static_cast<int>(std::size(runs)) && runs[count].first != 0)
            ++count;
        return count;
    }
    constexpr int lastOffset() const { return runs[runCount() - 1].last; }
    // The shortest reply: it ends at the last byte read.
    constexpr int shortest() const { return lastOffset() + 1; }
    constexpr const DigitRun* begin() const { return runs; }
    constexpr const DigitRun* end() const { return runs + runCount(); }
};

namespace layouts {

using L = Layout;

// clang-format off
inline constexpr LayoutRow kLayouts[] = {
    // layout      name         drop   0at runs                                    sep  most   lim widest
    {L::Digit,     "Digit",     true,  -1, {{7, 7}},                               0,   0,     0,  nullptr},
    {L::ZeroDigit, "ZeroDigit", true,  6,  {{7, 7}},                               0,   0,     0,  nullptr},
    {L::Number4,   "Number4",   false, -1, {{7, 10}},                              0,   9999,  0,  "00000"},
    {L::Number5,   "Number5",   false, -1, {{6, 10}},                              0,   65535, 5,  "00000"},
    {L::Address,   "Address",   false, -1, {{6, 8}, {10, 12}, {14, 16}, {18, 20}}, '.', 255,   15, "000.000.000.000"},
};
// clang-format on

inline constexpr int kLayoutCount = static_cast<int>(std::size(kLayouts));

constexpr bool rowsAreInOrder()
{
    for (int i = 0; i < kLayoutCount; ++i) {
        if (static_cast<int>(kLayouts[i].layout) != i)
            return false;
    }
    return true;
}

constexpr bool rowsAreWellFormed()
{
    for (const LayoutRow& row : kLayouts) {
        if (row.runCount() < 1)
            return false;
        // A drop-down's position is one digit; a text field's runs stand after the identity, in order.
        if (row.dropDown && (row.runCount() != 1 || row.runs[0].size() != 1 || row.widest != nullptr))
            return false;
        if (!row.dropDown && (row.zeroAt >= 0 || row.largest <= 0 || row.widest == nullptr))
            return false;
        if (row.runCount() > 1 && row.separator == 0)
            return false;
        for (int i = 0; i < row.runCount(); ++i) {
            if (row.runs[i].first < 6 || row.runs[i].last < row.runs[i].first ||
                (i > 0 && row.runs[i].first <= row.runs[i - 1].last))
                return false;
        }
        if (row.zeroAt >= 0 && (row.zeroAt < 6 || row.zeroAt >= row.runs[0].first))
            return false;
    }
    return true;
}

} // namespace layouts

using layouts::kLayoutCount;

constexpr const LayoutRow& layoutOf(Layout layout)
{
    return layouts::kLayouts[static_cast<std::size_t>(layout)];
}

static_assert(layouts::rowsAreInOrder(), "one row per layout, in the order of Layout");
static_assert(layouts::rowsAreWellFormed(), "every layout row is complete");

} // namespace tarvik
