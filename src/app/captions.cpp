#include "captions.h"

namespace tarvik::captions {

namespace {

constexpr const char* kPortModeTip = "选择端口的工作模式";
constexpr const char* kPortNumberTip = "设置工作端口的端口号";
constexpr const char* kDestAddressTip = "设置目的IP地址";
constexpr const char* kDestPortTip = "设置目的端口号";

constexpr const char* kPortMode = "端口模式";
constexpr const char* kPortNumber = "本机端口号";
constexpr const char* kDestAddress = "目的IP地址";
constexpr const char* kDestPort = "目的端口号";

using F = Field;

} // namespace

const FieldCaption kFieldCaptions[kFieldCount] = {
    {F::Ethernet_Mode, "Ethernet_Mode", "以太网模式", "选择以太网的工作模式", 0},
    {F::G_IP, "G_IP", "网关IP地址", "设置模块所在子网的网关IP地址", 15},
    {F::S_IP, "S_IP", "本机IP地址", "设置模块的IP地址", 15},
    {F::MASK, "MASK", "子网掩码", "设置模块所在子网的子网掩码值", 15},
    {F::Disp_Mode, "Disp_Mode", "显示控制", nullptr, 0},
    {F::UART_BaudRate, "UART_BaudRate", "波特率", "选择异步通信的波特率", 0},
    {F::UART_Stream, "UART_Stream", "数据流控制", "选择异步通信数据流的控制方式", 0},
    {F::UART_Bits, "UART_Bits", "数据位",
     "选择异步通信数据位长度，然后按“设置”键确认。一般使用8个位的字节数据", 0},
    {F::UART_TimeDeli, "UART_TimeDeli", "时间分割", nullptr, 0},
    {F::UART_ByteDeli, "UART_ByteDeli", "字节分割", nullptr, 0},
    {F::UART_Parity, "UART_Parity", "奇偶校验位", "选择异步通信数据的校验方式", 0},
    {F::UART_Stopbit, "UART_Stopbit", "停止位", "选择异步通信数据的停止位的位数", 0},
    {F::Ch1_SOCK_Mode, "Ch1_SOCK_Mode", kPortMode, kPortModeTip, 0},
    {F::Ch1_Port_Number, "Ch1_Port_Number", kPortNumber, kPortNumberTip, 5},
    {F::Ch1_D_IP, "Ch1_D_IP", kDestAddress, kDestAddressTip, 15},
    {F::Ch1_D_Port, "Ch1_D_Port", kDestPort, kDestPortTip, 5},
    {F::Ch2_SOCK_Mode, "Ch2_SOCK_Mode", kPortMode, kPortModeTip, 0},
    {F::Ch2_Port_Number, "Ch2_Port_Number", kPortNumber, kPortNumberTip, 5},
    {F::Ch2_D_IP, "Ch2_D_IP", kDestAddress, kDestAddressTip, 15},
    {F::Ch2_D_Port, "Ch2_D_Port", kDestPort, kDestPortTip, 5},
    {F::Ch3_SOCK_Mode, "Ch3_SOCK_Mode", kPortMode, kPortModeTip, 0},
    {F::Ch3_Port_Number, "Ch3_Port_Number", kPortNumber, kPortNumberTip, 5},
    {F::Ch3_D_IP, "Ch3_D_IP", kDestAddress, kDestAddressTip, 15},
    {F::Ch3_D_Port, "Ch3_D_Port", kDestPort, kDestPortTip, 5},
    {F::Ch4_SOCK_Mode, "Ch4_SOCK_Mode", kPortMode, kPortModeTip, 0},
    {F::Ch4_Port_Number, "Ch4_Port_Number", kPortNumber, kPortNumberTip, 5},
    {F::Ch4_D_IP, "Ch4_D_IP", kDestAddress, kDestAddressTip, 15},
    {F::Ch4_D_Port, "Ch4_D_Port", kDestPort, kDestPortTip, 5},
};

const FieldCaption& fieldCaption(Field field)
{
    return kFieldCaptions[static_cast<int>(field)];
}

QStringList entries(Field field)
{
    switch (field) {
    case F::UART_BaudRate:
        return {QStringLiteral("1200bps"), QStringLiteral("2400bps"), QStringLiteral("4800bps"),
                QStringLiteral("9600bps"), QStringLiteral("19200bps"), QStringLiteral("38400bps"),
                QStringLiteral("57600bps"), QStringLiteral("115200bps"), QStringLiteral("300000bps")};
    case F::UART_Stream:
        return {QStringLiteral("无"), QStringLiteral("RTS/CTS")};
    case F::UART_Bits:
        return {QStringLiteral("8"), QStringLiteral("9")};
    case F::UART_Parity:
        return {QStringLiteral("无校验"), QStringLiteral("奇校验"), QStringLiteral("偶校验")};
    case F::UART_Stopbit:
        return {QStringLiteral("1"), QStringLiteral("2")};
    case F::Ch1_SOCK_Mode:
    case F::Ch2_SOCK_Mode:
    case F::Ch3_SOCK_Mode:
    case F::Ch4_SOCK_Mode:
        return {QStringLiteral("端口关闭"), QStringLiteral("TCP服务器"), QStringLiteral("TCP客户端"),
                QStringLiteral("UDP模式0"), QStringLiteral("UDP模式1")};
    case F::Ethernet_Mode:
        return {QStringLiteral("自动握手"),          QStringLiteral("100M全双工自动握手"),
                QStringLiteral("100M全双工手动握手"), QStringLiteral("100M半双工手动握手"),
                QStringLiteral("10M全双工手动握手"),  QStringLiteral("10M半双工手动握手")};
    case F::Disp_Mode:
        return {QStringLiteral("不显示"), QStringLiteral("显示")};
    default:
        return {};
    }
}

} // namespace tarvik::captions
