// The entry texts of the drop-downs, by position: the one place they are written. The parameter
// files hold them as they stand here; the window shows them translated ("Parameter" context).
#pragma once

#include "link/catalogue.h"

#include <QtGlobal> // QT_TRANSLATE_NOOP

#include <string_view>

namespace tarvik {

// The texts of a drop-down's entries, in the order of their positions.
struct EntryTexts
{
    const char* const* items = nullptr;
    int count = 0;

    constexpr const char* operator[](int position) const { return items[position]; }
    constexpr const char* const* begin() const { return items; }
    constexpr const char* const* end() const { return items + count; }
};

namespace entries {

template <std::size_t N> constexpr EntryTexts textsOf(const char* const (&items)[N])
{
    return {items, static_cast<int>(N)};
}

// clang-format off
inline constexpr const char* kEthernetModes[] = {
    QT_TRANSLATE_NOOP("Parameter", "自动握手"),          QT_TRANSLATE_NOOP("Parameter", "100M全双工自动握手"),
    QT_TRANSLATE_NOOP("Parameter", "100M全双工手动握手"), QT_TRANSLATE_NOOP("Parameter", "100M半双工手动握手"),
    QT_TRANSLATE_NOOP("Parameter", "10M全双工手动握手"),  QT_TRANSLATE_NOOP("Parameter", "10M半双工手动握手"),
};
// clang-format on
inline constexpr const char* kDisplayModes[] = {QT_TRANSLATE_NOOP("Parameter", "不显示"),
                                                QT_TRANSLATE_NOOP("Parameter", "显示")};
inline constexpr const char* kBaudRates[] = {"1200bps",  "2400bps",  "4800bps",   "9600bps",  "19200bps",
                                             "38400bps", "57600bps", "115200bps", "300000bps"};
inline constexpr const char* kFlowControls[] = {QT_TRANSLATE_NOOP("Parameter", "无"), "RTS/CTS"};
inline constexpr const char* kDataBits[] = {"8", "9"};
inline constexpr const char* kParities[] = {QT_TRANSLATE_NOOP("Parameter", "无校验"),
                                            QT_TRANSLATE_NOOP("Parameter", "奇校验"),
                                            QT_TRANSLATE_NOOP("Parameter", "偶校验")};
inline constexpr const char* kStopBits[] = {"1", "2"};
inline constexpr const char* kPortModes[] = {
    QT_TRANSLATE_NOOP("Parameter", "端口关闭"), QT_TRANSLATE_NOOP("Parameter", "TCP服务器"),
    QT_TRANSLATE_NOOP("Parameter", "TCP客户端"), QT_TRANSLATE_NOOP("Parameter", "UDP模式0"),
    QT_TRANSLATE_NOOP("Parameter", "UDP模式1")};

struct Row
{
    const char* name = nullptr; // the drop-down's parameter
    EntryTexts texts;
};

// One row per drop-down of the parameter table.
inline constexpr Row kRows[] = {
    {"Ethernet_Mode", textsOf(kEthernetModes)}, {"Disp_Mode", textsOf(kDisplayModes)},
    {"UART_BaudRate", textsOf(kBaudRates)},     {"UART_Stream", textsOf(kFlowControls)},
    {"UART_Bits", textsOf(kDataBits)},          {"UART_Parity", textsOf(kParities)},
    {"UART_Stopbit", textsOf(kStopBits)},       {"Ch1_SOCK_Mode", textsOf(kPortModes)},
    {"Ch2_SOCK_Mode", textsOf(kPortModes)},     {"Ch3_SOCK_Mode", textsOf(kPortModes)},
    {"Ch4_SOCK_Mode", textsOf(kPortModes)},
};

// The row of `parameter` in kRows, -1 for a text field. (An index, not a pointer: some compilers
// do not compare a pointer into a constant array with null in a constant expression.)
constexpr int rowOf(const Parameter& parameter)
{
    for (int i = 0; i < static_cast<int>(std::size(kRows)); ++i) {
        if (std::string_view(kRows[i].name) == parameter.name)
            return i;
    }
    return -1;
}

constexpr bool everyDropDownHasItsTexts()
{
    for (const Parameter& p : kParameters) {
        const int row = rowOf(p);
        if (p.isDropDown() != (row >= 0) || (row >= 0 && kRows[row].texts.count != p.entries.count))
            return false;
    }
    for (const Row& row : kRows) {
        int named = 0;
        for (const Parameter& p : kParameters)
            named += std::string_view(row.name) == p.name;
        if (named != 1)
            return false;
    }
    return true;
}

static_assert(everyDropDownHasItsTexts(), "one row of texts per drop-down, one text per position");

} // namespace entries

// The entry texts of a drop-down; none for a text field.
constexpr EntryTexts entryTexts(const Parameter& parameter)
{
    const int row = entries::rowOf(parameter);
    return row >= 0 ? entries::kRows[row].texts : EntryTexts{};
}

} // namespace tarvik
