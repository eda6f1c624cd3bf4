// The module parameters as one table: how each is queried, set and read back, and where the window
// shows it. Everything else that counts, orders or lists parameters is derived from this table.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QtGlobal> // QT_TRANSLATE_NOOP: the texts are translated where they are shown

#include <cstddef>
#include <iterator>
#include <string_view>

namespace tarvik {

// A parameter field: its position in the table. The window and the operations address fields only
// through it; `fieldNamed()` gives the field of a name ("UART_BaudRate").
enum class Field : quint8
{
};

// How a read reply carries the value (byte offsets from the start of the datagram).
enum class Layout : quint8
{
    Digit,     // drop-down: one digit in byte 7
    ZeroDigit, // drop-down: "0" in byte 6, the digit in byte 7
    Number4,   // text: four digits in bytes 7-10
    Number5,   // text: five digits in bytes 6-10
    Address,   // text: four 3-digit groups in bytes 6-8, 10-12, 14-16, 18-20
};

// The fixed entries of a drop-down, in the order of their positions.
struct Entries
{
    const char* const* items = nullptr;
    int count = 0;

    constexpr const char* operator[](int position) const { return items[position]; }
    constexpr const char* const* begin() const { return items; }
    constexpr const char* const* end() const { return items + count; }
};

template <std::size_t N> constexpr Entries entriesOf(const char* const (&items)[N])
{
    return {items, static_cast<int>(N)};
}

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

struct Parameter
{
    const char* name = nullptr; // the window field's name, also the key of the parameter files
    qint16 stage = 0;           // read stage; stages run upwards, the numbers between them carry nothing
    char code[3] = {};          // two upper-case letters
    char channel = 0;           // '1'..'4' for the per-channel commands, 0 otherwise
    Layout layout = Layout::Digit;
    char base = 0;                 // drop-downs: value character of the first entry
    Entries entries;               // drop-downs: the entries, by position
    const char* label = nullptr;   // caption of the field's label
    const char* tooltip = nullptr; // nullptr: none
    const char* message = nullptr; // drop-downs: log text when a read reply carries a value out of range
    Place place = {};

    constexpr bool isDropDown() const { return layout == Layout::Digit || layout == Layout::ZeroDigit; }
    // Digit values a reply may carry for a drop-down, and the entry the lowest one selects.
    constexpr int lowestDigit() const { return base - '0'; }
    constexpr int highestDigit() const { return lowestDigit() + entries.count - 1; }
    // A read leaves the fields of network channels 3 and 4 as they are until their stages arrive.
    constexpr bool blankedByRead() const { return channel == 0 || channel < '3'; }
};

namespace table {

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

inline constexpr const char* kPortModeLabel = QT_TRANSLATE_NOOP("Parameter", "端口模式");
inline constexpr const char* kPortNumberLabel = QT_TRANSLATE_NOOP("Parameter", "本机端口号");
inline constexpr const char* kDestAddressLabel = QT_TRANSLATE_NOOP("Parameter", "目的IP地址");
inline constexpr const char* kDestPortLabel = QT_TRANSLATE_NOOP("Parameter", "目的端口号");
inline constexpr const char* kPortModeTip = QT_TRANSLATE_NOOP("Parameter", "选择端口的工作模式");
inline constexpr const char* kPortNumberTip = QT_TRANSLATE_NOOP("Parameter", "设置工作端口的端口号");
inline constexpr const char* kDestAddressTip = QT_TRANSLATE_NOOP("Parameter", "设置目的IP地址");
inline constexpr const char* kDestPortTip = QT_TRANSLATE_NOOP("Parameter", "设置目的端口号");

using L = Layout;
using G = Group;
constexpr Entries kNoEntries{};

// In read order; a write sends the settings in the same order. Stages 6, 18, 23 and 24 carry no
// command: the module's firmware numbers its parameters that way.
// clang-format off
inline constexpr Parameter kParameters[] = {
    {"Ethernet_Mode", 1, "ET", 0, L::Digit, '0', entriesOf(kEthernetModes),
     QT_TRANSLATE_NOOP("Parameter", "以太网模式"), QT_TRANSLATE_NOOP("Parameter", "选择以太网的工作模式"),
     QT_TRANSLATE_NOOP("Parameter", "以太网工作模式读取错误！"), {0, G::None, 0, 0}},
    {"G_IP", 2, "GA", 0, L::Address, 0, kNoEntries, QT_TRANSLATE_NOOP("Parameter", "网关IP地址"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块所在子网的网关IP地址"), nullptr, {0, G::None, 1, 0}},
    {"S_IP", 3, "IP", 0, L::Address, 0, kNoEntries, QT_TRANSLATE_NOOP("Parameter", "本机IP地址"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块的IP地址"), nullptr, {0, G::None, 3, 0}},
    {"MASK", 4, "SM", 0, L::Address, 0, kNoEntries, QT_TRANSLATE_NOOP("Parameter", "子网掩码"),
     QT_TRANSLATE_NOOP("Parameter", "设置模块所在子网的子网掩码值"), nullptr, {0, G::None, 2, 0}},
    {"Disp_Mode", 5, "EC", 0, L::Digit, '0', entriesOf(kDisplayModes), QT_TRANSLATE_NOOP("Parameter", "显示控制"),
     nullptr, QT_TRANSLATE_NOOP("Parameter", "显示模式读取错误！"), {0, G::None, 4, 0}},
    {"UART_BaudRate", 7, "UB", 0, L::Digit, '0', entriesOf(kBaudRates), QT_TRANSLATE_NOOP("Parameter", "波特率"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信的波特率"),
     QT_TRANSLATE_NOOP("Parameter", "读取通道1串口波特率错误！"), {1, G::Serial, 0, 0}},
    {"UART_Stream", 8, "UT", 0, L::Digit, '0', entriesOf(kFlowControls),
     QT_TRANSLATE_NOOP("Parameter", "数据流控制"), QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据流的控制方式"),
     QT_TRANSLATE_NOOP("Parameter", "读取通道1串口通信数据流控制错误！"), {1, G::Serial, 0, 1}},
    {"UART_Bits", 9, "UD", 0, L::Digit, '8', entriesOf(kDataBits), QT_TRANSLATE_NOOP("Parameter", "数据位"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据位长度，然后按“设置”键确认。一般使用8个位的字节数据"),
     QT_TRANSLATE_NOOP("Parameter", "读取通道1串口通信数据位长度错误！"), {1, G::Serial, 1, 0}},
    {"UART_TimeDeli", 10, "TM", 0, L::Number4, 0, kNoEntries, QT_TRANSLATE_NOOP("Parameter", "时间分割"), nullptr,
     nullptr, {1, G::Splitting, 0, 0}},
    {"UART_ByteDeli", 11, "BT", 0, L::Number4, 0, kNoEntries, QT_TRANSLATE_NOOP("Parameter", "字节分割"), nullptr,
     nullptr, {1, G::Splitting, 1, 0}},
    {"UART_Parity", 12, "UP", 0, L::ZeroDigit, '0', entriesOf(kParities),
     QT_TRANSLATE_NOOP("Parameter", "奇偶校验位"), QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据的校验方式"),
     QT_TRANSLATE_NOOP("Parameter", "读取通道1串口通信数据校验方式错误！"), {1, G::Serial, 2, 0}},
    {"UART_Stopbit", 13, "US", 0, L::ZeroDigit, '1', entriesOf(kStopBits), QT_TRANSLATE_NOOP("Parameter", "停止位"),
     QT_TRANSLATE_NOOP("Parameter", "选择异步通信数据的停止位的位数"),
     QT_TRANSLATE_NOOP("Parameter", "读取通道1串口通信数据停止位错误！"), {1, G::Serial, 3, 0}},
    {"Ch1_SOCK_Mode", 14, "SR", '1', L::Digit, '0', entriesOf(kPortModes), kPortModeLabel, kPortModeTip,
     QT_TRANSLATE_NOOP("Parameter", "读取通道1端口工作模式错误！"), {2, G::Channel1, 0, 0}},
    {"Ch1_Port_Number", 15, "PT", '1', L::Number5, 0, kNoEntries, kPortNumberLabel, kPortNumberTip, nullptr,
     {2, G::Channel1, 0, 1}},
    {"Ch1_D_IP", 16, "DA", '1', L::Address, 0, kNoEntries, kDestAddressLabel, kDestAddressTip, nullptr,
     {2, G::Channel1, 1, 0}},
    {"Ch1_D_Port", 17, "DP", '1', L::Number5, 0, kNoEntries, kDestPortLabel, kDestPortTip, nullptr,
     {2, G::Channel1, 1, 1}},
    {"Ch2_SOCK_Mode", 19, "SR", '2', L::Digit, '0', entriesOf(kPortModes), kPortModeLabel, kPortModeTip,
     QT_TRANSLATE_NOOP("Parameter", "读取通道2端口工作模式错误！"), {2, G::Channel2, 0, 0}},
    {"Ch2_Port_Number", 20, "PT", '2', L::Number5, 0, kNoEntries, kPortNumberLabel, kPortNumberTip, nullptr,
     {2, G::Channel2, 0, 1}},
    {"Ch2_D_IP", 21, "DA", '2', L::Address, 0, kNoEntries, kDestAddressLabel, kDestAddressTip, nullptr,
     {2, G::Channel2, 1, 0}},
    {"Ch2_D_Port", 22, "DP", '2', L::Number5, 0, kNoEntries, kDestPortLabel, kDestPortTip, nullptr,
     {2, G::Channel2, 1, 1}},
    {"Ch3_SOCK_Mode", 25, "SR", '3', L::Digit, '0', entriesOf(kPortModes), kPortModeLabel, kPortModeTip,
     QT_TRANSLATE_NOOP("Parameter", "读取通道3端口工作模式错误！"), {2, G::Channel3, 0, 0}},
    {"Ch3_Port_Number", 26, "PT", '3', L::Number5, 0, kNoEntries, kPortNumberLabel, kPortNumberTip, nullptr,
     {2, G::Channel3, 0, 1}},
    {"Ch3_D_IP", 27, "DA", '3', L::Address, 0, kNoEntries, kDestAddressLabel, kDestAddressTip, nullptr,
     {2, G::Channel3, 1, 0}},
    {"Ch3_D_Port", 28, "DP", '3', L::Number5, 0, kNoEntries, kDestPortLabel, kDestPortTip, nullptr,
     {2, G::Channel3, 1, 1}},
    {"Ch4_SOCK_Mode", 29, "SR", '4', L::Digit, '0', entriesOf(kPortModes), kPortModeLabel, kPortModeTip,
     QT_TRANSLATE_NOOP("Parameter", "读取通道4端口工作模式错误！"), {3, G::Channel4, 0, 0}},
    {"Ch4_Port_Number", 30, "PT", '4', L::Number5, 0, kNoEntries, kPortNumberLabel, kPortNumberTip, nullptr,
     {3, G::Channel4, 0, 1}},
    {"Ch4_D_IP", 31, "DA", '4', L::Address, 0, kNoEntries, kDestAddressLabel, kDestAddressTip, nullptr,
     {3, G::Channel4, 1, 0}},
    {"Ch4_D_Port", 32, "DP", '4', L::Number5, 0, kNoEntries, kDestPortLabel, kDestPortTip, nullptr,
     {3, G::Channel4, 1, 1}},
};
// clang-format on

} // namespace table

using table::kParameters;
inline constexpr int kParameterCount = static_cast<int>(std::size(kParameters));
inline constexpr int kFieldCount = kParameterCount;
inline constexpr int kPageCount = 4;

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

// A text of the table (label, tooltip, entry, error message) as the user reads it: translated when
// a translation is installed, the table's own text otherwise.
inline QString tableText(const char* text)
{
    return QCoreApplication::translate("Parameter", text);
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
        if (p.isDropDown() != (p.entries.count > 0) || (p.isDropDown() && (p.base < '0' || p.message == nullptr)))
            return false;
        // One character carries a drop-down's position: base + position must stay a digit.
        if (p.isDropDown() && p.highestDigit() > 9)
            return false;
        if (p.label == nullptr || p.place.page >= kPageCount)
            return false;
    }
    return true;
}

constexpr bool namesAndPlacesAreUnique()
{
    for (int i = 0; i < kParameterCount; ++i) {
        for (int j = i + 1; j < kParameterCount; ++j) {
            if (std::string_view(kParameters[i].name) == kParameters[j].name)
                return false;
            const Place a = kParameters[i].place;
            const Place b = kParameters[j].place;
            if (a.page == b.page && a.group == b.group && a.row == b.row && a.column == b.column)
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
static_assert(table::namesAndPlacesAreUnique(), "one name and one place per field");

} // namespace tarvik
