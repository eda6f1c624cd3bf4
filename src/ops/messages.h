// Every text the operations write into the message log, byte for byte as the users know them.
#pragma once

#include "link/catalogue.h"

#include <QtGlobal> // QT_TRANSLATE_NOOP: the texts are translated where they are written

#include <string_view>

namespace tarvik::msg {

// Start-up advice, four lines.
inline constexpr const char* kStartAdvice[] = {
    QT_TRANSLATE_NOOP("Message", "请注意下面提示的本机IP地址和端口号值。"),
    QT_TRANSLATE_NOOP("Message",
                      "在使用本工具扫描设备之前，请确保所有的设备都在同一个物理局域网内，没有经过路由器隔离。"),
    QT_TRANSLATE_NOOP("Message", "请先扫描网络中的设备，然后读取指定设备的参数，并可对每一个设备的参数进行修改。"),
    QT_TRANSLATE_NOOP("Message", "扫描设备的过程可能需要几秒钟的时间。"),
};

// Scan.
inline constexpr const char* kScanning = QT_TRANSLATE_NOOP("Message", "计算机正在扫描网络中的设备... ...");
inline constexpr const char* kScanningAdvice = QT_TRANSLATE_NOOP(
    "Message",
    "本计算机与设备的IP地址可以不在同一个网段，但本计算机与设备必须在由交换机或路由器支持的同一个物理局域网内，"
    "不能被路由器隔离。");
inline constexpr const char* kDetected = QT_TRANSLATE_NOOP("Message", "检测到");
inline constexpr const char* kDevicesSuffix = QT_TRANSLATE_NOOP("Message", "个设备。");
inline constexpr const char* kNoDevice = QT_TRANSLATE_NOOP("Message", "未检查到网络中的设备！");
inline constexpr const char* kNoDeviceAdvice = QT_TRANSLATE_NOOP(
    "Message",
    "设备与计算机必须是在同一个交换机或路由器所支持的局域网内，不能经过路由器隔离。请检查网络连接，重新操作！");
// Our own: not one broadcast of a scan could be sent (no card, no route, port taken); the
// system's reason follows the colon.
inline constexpr const char* kScanNotSent = QT_TRANSLATE_NOOP("Message", "扫描广播未能从本计算机发出：");
// Our own: the tool's port cannot be bound at start-up (another program holds it); %1 the port,
// the system's reason follows the colon.
inline constexpr const char* kPortUnavailable =
    QT_TRANSLATE_NOOP("Message", "无法使用本机UDP端口%1，收不到设备的回复：");
// Our own: the device table holds 254 modules; a further one is not listed.
inline constexpr const char* kTableFull =
    QT_TRANSLATE_NOOP("Message", "设备列表已满（最多254个设备），其余设备未能列出。");

// Read.
inline constexpr const char* kReadDevice = QT_TRANSLATE_NOOP("Message", "读取设备");
inline constexpr const char* kReadStarts = QT_TRANSLATE_NOOP("Message", "参数... ...");
inline constexpr const char* kReadSucceeded = QT_TRANSLATE_NOOP("Message", "数据成功！");
inline constexpr const char* kParamsFailed = QT_TRANSLATE_NOOP("Message", "参数不成功！");
inline constexpr const char* kCheckAndRetry =
    QT_TRANSLATE_NOOP("Message", "请检查计算机与设备之间的网络连接，重新操作！");

// A read reply whose digit is out of a drop-down's range replaces the log with the drop-down's own
// text: one row per drop-down of the parameter table.
struct ReadError
{
    const char* name; // the drop-down's parameter
    const char* text;
};
// clang-format off
inline constexpr ReadError kReadErrors[] = {
    {"Ethernet_Mode", QT_TRANSLATE_NOOP("Message", "以太网工作模式读取错误！")},
    {"Disp_Mode", QT_TRANSLATE_NOOP("Message", "显示模式读取错误！")},
    {"UART_BaudRate", QT_TRANSLATE_NOOP("Message", "读取通道1串口波特率错误！")},
    {"UART_Stream", QT_TRANSLATE_NOOP("Message", "读取通道1串口通信数据流控制错误！")},
    {"UART_Bits", QT_TRANSLATE_NOOP("Message", "读取通道1串口通信数据位长度错误！")},
    {"UART_Parity", QT_TRANSLATE_NOOP("Message", "读取通道1串口通信数据校验方式错误！")},
    {"UART_Stopbit", QT_TRANSLATE_NOOP("Message", "读取通道1串口通信数据停止位错误！")},
    {"Ch1_SOCK_Mode", QT_TRANSLATE_NOOP("Message", "读取通道1端口工作模式错误！")},
    {"Ch2_SOCK_Mode", QT_TRANSLATE_NOOP("Message", "读取通道2端口工作模式错误！")},
    {"Ch3_SOCK_Mode", QT_TRANSLATE_NOOP("Message", "读取通道3端口工作模式错误！")},
    {"Ch4_SOCK_Mode", QT_TRANSLATE_NOOP("Message", "读取通道4端口工作模式错误！")},
};
// clang-format on

// The text for a rejected value of `parameter`; nullptr for a text field, which takes any value.
constexpr const char* readError(const Parameter& parameter)
{
    for (const ReadError& error : kReadErrors) {
        if (std::string_view(error.name) == parameter.name)
            return error.text;
    }
    return nullptr;
}

constexpr bool everyDropDownHasItsReadError()
{
    for (const Parameter& p : kParameters) {
        if (p.isDropDown() != (readError(p) != nullptr))
            return false;
    }
    for (const ReadError& error : kReadErrors) {
        int named = 0;
        for (const Parameter& p : kParameters)
            named += std::string_view(error.name) == p.name;
        if (named != 1)
            return false;
    }
    return true;
}
static_assert(everyDropDownHasItsReadError(), "one read error per drop-down");

// Write.
inline constexpr const char* kSetDevice = QT_TRANSLATE_NOOP("Message", "设置设备");
inline constexpr const char* kWriteStarts = QT_TRANSLATE_NOOP("Message", "的参数... ...");
inline constexpr const char* kWriteSucceeded =
    QT_TRANSLATE_NOOP("Message", "数据成功，请重新读取设备参数以检查参数的设置是否正确。");
inline constexpr const char* kWriteRefused = QT_TRANSLATE_NOOP("Message", "数据不成功！");
inline constexpr const char* kCheckConnection = QT_TRANSLATE_NOOP("Message", "请检查计算机与设备之间的网络连接。");

// Restore defaults.
inline constexpr const char* kRestoreDevice = QT_TRANSLATE_NOOP("Message", "恢复设备");
inline constexpr const char* kRestoreStarts = QT_TRANSLATE_NOOP("Message", "默认参数... ...");
inline constexpr const char* kRestoreSucceeded = QT_TRANSLATE_NOOP("Message", "默认参数成功，请重新读取设备参数！");
inline constexpr const char* kSeeManual = QT_TRANSLATE_NOOP("Message", "默认参数值请参考相关的用户手册。");
inline constexpr const char* kRestoreRefused = QT_TRANSLATE_NOOP("Message", "默认参数不成功！");
inline constexpr const char* kRestoreUnanswered = QT_TRANSLATE_NOOP("Message", "默认参数不成功，请重新操作！");

// Reset and run.
inline constexpr const char* kForDevice = QT_TRANSLATE_NOOP("Message", "对设备");
inline constexpr const char* kResetSucceeded = QT_TRANSLATE_NOOP("Message", "的复位运行成功。");
inline constexpr const char* kResetFailed = QT_TRANSLATE_NOOP("Message", "的复位运行不成功。");

inline constexpr const char* kNoSelection = QT_TRANSLATE_NOOP("Message", "没有选择设备！");

} // namespace tarvik::msg
