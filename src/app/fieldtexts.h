// What the window shows of each parameter field: the caption of its label, its tooltip and its
// place (page, group frame, grid cell). One row per parameter, in the order of the parameter table.
#pragma once

#include "link/catalogue.h"

#include <QCoreApplication>
#include <QString>

#include <string_view>

namespace tarvik {

inline constexpr int kPageCount = 4;

// Group frames inside the parameter pages; the window gives each its caption and place.
enum class Group : quint8
{
    None,
    Serial,
    Splitting,
    Channel1,
    Channel2,
    Channel3,
    Channel4
};

// Where the window shows a field: page (0-3), group frame, and the grid cell in it (each cell is
// a label and the field beside it).
struct Place
{
    quint8 page;
    Group group;
    quint8 row;
    quint8 column;
};

struct FieldText
{
    const char* name;    // the parameter's
    const char* label;   // caption of the field's label, also the field's accessible name
    const char* tooltip; // nullptr: none
    Place place;
};

namespace fieldtexts {

inline constexpr const char* kPortModeLabel = QT_TRANSLATE_NOOP("Parameter", "端口模式");
inline constexpr const char* kPortNumberLabel = QT_TRANSLATE_NOOP("Parameter", "本机端口号");
inline constexpr const char* kDestAddressLabel = QT_TRANSLATE_NOOP("Parameter", "目的IP地址");
inline constexpr const char* kDestPortLabel = QT_TRANSLATE_NOOP("Parameter", "目的端口号");
inline constexpr const char* kPortModeTip = QT_TRANSLATE_NOOP("Parameter", "选择端口的工作模式");
inline constexpr const char* kPortNumberTip = QT_TRANSLATE_NOOP("Parameter", "设置工作端口的端口号");
inline constexpr const char* kDestAddressTip = QT_TRANSLATE_NOOP("Parameter", "设置目的IP地址");
inline constexpr const char* kDestPortTip = QT_TRANSLATE_NOOP("Parameter", "设置目的端口号");

using G = Group;

inline constexpr FieldText kFieldTexts[] = {
    {"Ethernet_Mode",
     QT_TRANSLATE_NOOP("Parameter", "以太网模式"),
     QT_TRANSLATE_NOOP("Parameter", "选择以太网的工作模式"),
     {0, G::None, 0, 0}},
    {"G_IP",
     QT_TRANSLATE_NOOP("Parameter", "网关IP地址"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块所在子网的网关IP地址"),
     {0, G::None, 1, 0}},
    {"S_IP",
     QT_TRANSLATE_NOOP("Parameter", "本机IP地址"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块的IP地址"),
     {0, G::None, 3, 0}},
    {"MASK",
     QT_TRANSLATE_NOOP("Parameter", "子网掩码"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块所在子网的子网掩码值"),
     {0, G::None, 2, 0}},
    {"Disp_Mode", QT_TRANSLATE_NOOP("Parameter", "显示控制"), nullptr, {0, G::None, 4, 0}},
    {"UART_BaudRate",
     QT_TRANSLATE_NOOP("Parameter", "波特率"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信的波特率"),
     {1, G::Serial, 0, 0}},
    {"UART_Stream",
     QT_TRANSLATE_NOOP("Parameter", "数据流控制"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据流的控制方式"),
     {1, G::Serial, 0, 1}},
    {"UART_Bits",
     QT_TRANSLATE_NOOP("Parameter", "数据位"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据位长度，然后按“设置”键确认。一般使用8个位的字节数据"),
     {1, G::Serial, 1, 0}},
    {"UART_TimeDeli", QT_TRANSLATE_NOOP("Parameter", "时间分割"), nullptr, {1, G::Splitting, 0, 0}},
    {"UART_ByteDeli", QT_TRANSLATE_NOOP("Parameter", "字节分割"), nullptr, {1, G::Splitting, 1, 0}},
    {"UART_Parity",
     QT_TRANSLATE_NOOP("Parameter", "奇偶校验位"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据的校验方式"),
     {1, G::Serial, 2, 0}},
    {"UART_Stopbit",
     QT_TRANSLATE_NOOP("Parameter", "停止位"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据的停止位的位数"),
     {1, G::Serial, 3, 0}},
    {"Ch1_SOCK_Mode", kPortModeLabel, kPortModeTip, {2, G::Channel1, 0, 0}},
    {"Ch1_Port_Number", kPortNumberLabel, kPortNumberTip, {2, G::Channel1, 0, 1}},
    {"Ch1_D_IP", kDestAddressLabel, kDestAddressTip, {2, G::Channel1, 1, 0}},
    {"Ch1_D_Port", kDestPortLabel, kDestPortTip, {2, G::Channel1, 1, 1}},
    {"Ch2_SOCK_Mode", kPortModeLabel, kPortModeTip, {2, G::Channel2, 0, 0}},
    {"Ch2_Port_Number", kPortNumberLabel, kPortNumberTip, {2, G::Channel2, 0, 1}},
    {"Ch2_D_IP", kDestAddressLabel, kDestAddressTip, {2, G::Channel2, 1, 0}},
    {"Ch2_D_Port", kDestPortLabel, kDestPortTip, {2, G::Channel2, 1, 1}},
    {"Ch3_SOCK_Mode", kPortModeLabel, kPortModeTip, {2, G::Channel3, 0, 0}},
    {"Ch3_Port_Number", kPortNumberLabel, kPortNumberTip, {2, G::Channel3, 0, 1}},
    {"Ch3_D_IP", kDestAddressLabel, kDestAddressTip, {2, G::Channel3, 1, 0}},
    {"Ch3_D_Port", kDestPortLabel, kDestPortTip, {2, G::Channel3, 1, 1}},
    {"Ch4_SOCK_Mode", kPortModeLabel, kPortModeTip, {3, G::Channel4, 0, 0}},
    {"Ch4_Port_Number", kPortNumberLabel, kPortNumberTip, {3, G::Channel4, 0, 1}},
    {"Ch4_D_IP", kDestAddressLabel, kDestAddressTip, {3, G::Channel4, 1, 0}},
    {"Ch4_D_Port", kDestPortLabel, kDestPortTip, {3, G::Channel4, 1, 1}},
};

constexpr bool rowsFollowTheTable()
{
    if (static_cast<int>(std::size(kFieldTexts)) != kParameterCount)
        return false;
    for (int i = 0; i < kParameterCount; ++i) {
        const FieldText& row = kFieldTexts[i];
        if (std::string_view(row.name) != kParameters[i].name || row.label == nullptr || row.place.page >= kPageCount)
            return false;
        for (int j = i + 1; j < kParameterCount; ++j) {
            const Place a = row.place;
            const Place b = kFieldTexts[j].place;
            if (a.page == b.page && a.group == b.group && a.row == b.row && a.column == b.column)
                return false;
        }
    }
    return true;
}

static_assert(rowsFollowTheTable(), "one row per parameter, in table order, each in a place of its own");

} // namespace fieldtexts

constexpr const FieldText& fieldTextOf(Field field)
{
    return fieldtexts::kFieldTexts[static_cast<std::size_t>(field)];
}

// A text of the parameter fields (label, tooltip, entry) as the user reads it: translated when a
// translation is installed, as written otherwise.
inline QString parameterText(const char* text)
{
    return QCoreApplication::translate("Parameter", text);
}

} // namespace tarvik
