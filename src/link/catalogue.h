// The module parameters as one table: how each is queried, set and read back. Everything else that
// counts, orders or lists parameters is derived from this table. What a person reads of a parameter
// lives in the layer that shows it (the window's fields, the operations' entry texts and messages),
// checked there against this table.
#pragma once

#include "link/layouts.h"

#include <QtGlobal>

#include <cstddef>
#include <iterator>
#include <string_view>

namespace tarvik {

// A parameter field: its position in the table. The window and the operations address fields only
// through it; `fieldNamed()` gives the field of a name ("UART_BaudRate").
enum class Field : quint8
{
};

// A drop-down's entries, as far as the wire knows them: how many positions there are.
struct Entries
{
    int count = 0;
};

struct Parameter
{
    const char* name = nullptr; // the window field's name, also the key of the parameter files
    qint16 stage = 0;           // read stage; stages run upwards, the numbers between them carry nothing
    char code[3] = {};          // two upper-case letters
    char channel = 0;           // '1'..'4' for the per-channel commands, 0 otherwise
    Layout layout = Layout::Digit;
    char base = 0;   // drop-downs: value character of the first entry
    Entries entries; // drop-downs: the positions

    constexpr bool isDropDown() const { return layoutOf(layout).dropDown; }
    // Digit values a reply may carry for a drop-down, and the entry the lowest one selects.
    constexpr int lowestDigit() const { return base - '0'; }
    constexpr int highestDigit() const { return lowestDigit() + entries.count - 1; }
    // A read leaves the fields of network channels 3 and 4 as they are until their stages arrive.
    constexpr bool blankedByRead() const { return channel == 0 || channel < '3'; }
};

namespace table {

using L = Layout;

// In read order; a write sends the settings in the same order. Stages 6, 18, 23 and 24 carry no
// command: the module's firmware numbers its parameters that way.
// clang-format off
inline constexpr Parameter kParameters[] = {
    // name             stage  code  channel  layout        base  entries
    {"Ethernet_Mode",   1,     "ET", 0,       L::Digit,     '0',  {6}},
    {"G_IP",            2,     "GA", 0,       L::Address,   0,    {}},
    {"S_IP",            3,     "IP", 0,       L::Address,   0,    {}},
    {"MASK",            4,     "SM", 0,       L::Address,   0,    {}},
    {"Disp_Mode",       5,     "EC", 0,       L::Digit,     '0',  {2}},
    {"UART_BaudRate",   7,     "UB", 0,       L::Digit,     '0',  {9}},
    {"UART_Stream",     8,     "UT", 0,       L::Digit,     '0',  {2}},
    {"UART_Bits",       9,     "UD", 0,       L::Digit,     '8',  {2}},
    {"UART_TimeDeli",   10,    "TM", 0,       L::Number4,   0,    {}},
    {"UART_ByteDeli",   11,    "BT", 0,       L::Number4,   0,    {}},
    {"UART_Parity",     12,    "UP", 0,       L::ZeroDigit, '0',  {3}},
    {"UART_Stopbit",    13,    "US", 0,       L::ZeroDigit, '1',  {2}},
    {"Ch1_SOCK_Mode",   14,    "SR", '1',     L::Digit,     '0',  {5}},
    {"Ch1_Port_Number", 15,    "PT", '1',     L::Number5,   0,    {}},
    {"Ch1_D_IP",        16,    "DA", '1',     L::Address,   0,    {}},
    {"Ch1_D_Port",      17,    "DP", '1',     L::Number5,   0,    {}},
    {"Ch2_SOCK_Mode",   19,    "SR", '2',     L::Digit,     '0',  {5}},
    {"Ch2_Port_Number", 20,    "PT", '2',     L::Number5,   0,    {}},
    {"Ch2_D_IP",        21,    "DA", '2',     L::Address,   0,    {}},
    {"Ch2_D_Port",      22,    "DP", '2',     L::Number5,   0,    {}},
    {"Ch3_SOCK_Mode",   25,    "SR", '3',     L::Digit,     '0',  {5}},
    {"Ch3_Port_Number", 26,    "PT", '3',     L::Number5,   0,    {}},
    {"Ch3_D_IP",        27,    "DA", '3',     L::Address,   0,    {}},
    {"Ch3_D_Port",      28,    "DP", '3',     L::Number5,   0,    {}},
    {"Ch4_SOCK_Mode",   29,    "SR", '4',     L::Digit,     '0',  {5}},
    {"Ch4_Port_Number", 30,    "PT", '4',     L::Number5,   0,    {}},
    {"Ch4_D_IP",        31,    "DA", '4',     L::Address,   0,    {}},
    {"Ch4_D_Port",      32,    "DP", '4',     L::Number5,   0,    {}},
};
// clang-format on

} // namespace table

using table::kParameters;
inline constexpr int kParameterCount = static_cast<int>(std::size(kParameters));
inline constexpr int kFieldCount = kParameterCount;

// Read stages: the first and the last; stage numbers stay below the operations' own codes.
inline constexpr qint16 kFirstReadStage = kParameters[0].stage;
inline constexpr qint16 kLastReadStage = kParameters[kParameterCount - 1].stage;

constexpr const Parameter& parameterOf(Field field)
{
    return kParameters[static_cast<std::size_t>(field)];
}

constexpr Field fieldAt(int index)
{
    return static_cast<Field>(index);
}

// The field of a name; a name that is not in the table stops the build when used in a constant
// expression, and throws otherwise.
constexpr Field fieldNamed(std::string_view name)
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (name == kParameters[i].name)
            return fieldAt(i);
    }
    throw "no parameter of this name";
}

// The parameter read at a stage, or nullptr for a stage without a command.
constexpr const Parameter* parameterForStage(int stage)
{
    for (const Parameter& p : kParameters) {
        if (p.stage == stage)
            return &p;
    }
    return nullptr;
}

constexpr int indexOf(const Parameter& parameter)
{
    return static_cast<int>(&parameter - kParameters);
}

constexpr Field fieldOf(const Parameter& parameter)
{
    return fieldAt(indexOf(parameter));
}

// How far a stage number jumps after the parameter of `stage` is handled, on top of the regular
// step of one: the numbers without a command are stepped over.
constexpr int gapAfterStage(int stage)
{
    for (int i = 0; i + 1 < kParameterCount; ++i) {
        if (kParameters[i].stage == stage)
            return kParameters[i + 1].stage - stage - 1;
    }
    return 0;
}

// All fields, for range-for loops.
struct AllFields
{
    struct Iterator
    {
        int index;
        constexpr Field operator*() const { return fieldAt(index); }
        constexpr Iterator& operator++()
        {
            ++index;
            return *this;
        }
        constexpr bool operator!=(const Iterator& other) const { return index != other.index; }
    };
    constexpr Iterator begin() const { return {0}; }
    constexpr Iterator end() const { return {kParameterCount}; }
};
inline constexpr AllFields kAllFields{};

namespace table {

constexpr bool stagesRunUpwards()
{
    for (int i = 1; i < kParameterCount; ++i) {
        if (kParameters[i].stage <= kParameters[i - 1].stage)
            return false;
    }
    return true;
}

constexpr bool rowsAreWellFormed()
{
    for (const Parameter& p : kParameters) {
        if (p.code[0] < 'A' || p.code[0] > 'Z' || p.code[1] < 'A' || p.code[1] > 'Z' || p.code[2] != 0)
            return false;
        if (p.channel != 0 && (p.channel < '1' || p.channel > '9'))
            return false;
        if (p.isDropDown() != (p.entries.count > 0) || (p.isDropDown() && p.base < '0'))
            return false;
        // One character carries a drop-down's position: base + position must stay a digit.
        if (p.isDropDown() && p.highestDigit() > 9)
            return false;
    }
    return true;
}

constexpr bool namesAreUnique()
{
    for (int i = 0; i < kParameterCount; ++i) {
        for (int j = i + 1; j < kParameterCount; ++j) {
            if (std::string_view(kParameters[i].name) == kParameters[j].name)
                return false;
        }
    }
    return true;
}

} // namespace table

static_assert(kParameterCount > 0 && kParameterCount < 256, "a field is one byte");
static_assert(kFirstReadStage >= 1, "stage 0 is the scan");
// 40 is the restore-defaults operation, 100 and up the write stages.
static_assert(kLastReadStage < 40, "read stages stay below the operations' own codes");
static_assert(table::stagesRunUpwards(), "the table is in read order");
static_assert(table::rowsAreWellFormed(), "every row is complete");
static_assert(table::namesAreUnique(), "one name per field");

} // namespace tarvik
