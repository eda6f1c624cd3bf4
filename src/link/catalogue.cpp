#include "catalogue.h"

namespace tarvik {

namespace {

constexpr const char* kEthernetModeError = "以太网工作模式读取错误！";
constexpr const char* kDisplayModeError = "显示模式读取错误！";
constexpr const char* kBaudRateError = "读取通道1串口波特率错误！";
constexpr const char* kFlowControlError = "读取通道1串口通信数据流控制错误！";
constexpr const char* kDataBitsError = "读取通道1串口通信数据位长度错误！";
constexpr const char* kParityError = "读取通道1串口通信数据校验方式错误！";
constexpr const char* kStopBitsError = "读取通道1串口通信数据停止位错误！";
constexpr const char* kPortMode1Error = "读取通道1端口工作模式错误！";
constexpr const char* kPortMode2Error = "读取通道2端口工作模式错误！";
constexpr const char* kPortMode3Error = "读取通道3端口工作模式错误！";
constexpr const char* kPortMode4Error = "读取通道4端口工作模式错误！";

using L = Layout;
using F = Field;

} // namespace

// In read order; the write sends the settings in the same order.
const std::array<Parameter, kParameterCount> kParameters = {{
    {1, "ET", 0, F::Ethernet_Mode, L::Digit, '0', 6, kEthernetModeError},
    {2, "GA", 0, F::G_IP, L::Address, 0, 0, nullptr},
    {3, "IP", 0, F::S_IP, L::Address, 0, 0, nullptr},
    {4, "SM", 0, F::MASK, L::Address, 0, 0, nullptr},
    {5, "EC", 0, F::Disp_Mode, L::Digit, '0', 2, kDisplayModeError},
    {7, "UB", 0, F::UART_BaudRate, L::Digit, '0', 9, kBaudRateError},
    {8, "UT", 0, F::UART_Stream, L::Digit, '0', 2, kFlowControlError},
    {9, "UD", 0, F::UART_Bits, L::Digit, '8', 2, kDataBitsError},
    {10, "TM", 0, F::UART_TimeDeli, L::Number4, 0, 0, nullptr},
    {11, "BT", 0, F::UART_ByteDeli, L::Number4, 0, 0, nullptr},
    {12, "UP", 0, F::UART_Parity, L::ZeroDigit, '0', 3, kParityError},
    {13, "US", 0, F::UART_Stopbit, L::ZeroDigit, '1', 2, kStopBitsError},
    {14, "SR", '1', F::Ch1_SOCK_Mode, L::Digit, '0', 5, kPortMode1Error},
    {15, "PT", '1', F::Ch1_Port_Number, L::Number5, 0, 0, nullptr},
    {16, "DA", '1', F::Ch1_D_IP, L::Address, 0, 0, nullptr},
    {17, "DP", '1', F::Ch1_D_Port, L::Number5, 0, 0, nullptr},
    {19, "SR", '2', F::Ch2_SOCK_Mode, L::Digit, '0', 5, kPortMode2Error},
    {20, "PT", '2', F::Ch2_Port_Number, L::Number5, 0, 0, nullptr},
    {21, "DA", '2', F::Ch2_D_IP, L::Address, 0, 0, nullptr},
    {22, "DP", '2', F::Ch2_D_Port, L::Number5, 0, 0, nullptr},
    {25, "SR", '3', F::Ch3_SOCK_Mode, L::Digit, '0', 5, kPortMode3Error},
    {26, "PT", '3', F::Ch3_Port_Number, L::Number5, 0, 0, nullptr},
    {27, "DA", '3', F::Ch3_D_IP, L::Address, 0, 0, nullptr},
    {28, "DP", '3', F::Ch3_D_Port, L::Number5, 0, 0, nullptr},
    {29, "SR", '4', F::Ch4_SOCK_Mode, L::Digit, '0', 5, kPortMode4Error},
    {30, "PT", '4', F::Ch4_Port_Number, L::Number5, 0, 0, nullptr},
    {31, "DA", '4', F::Ch4_D_IP, L::Address, 0, 0, nullptr},
    {32, "DP", '4', F::Ch4_D_Port, L::Number5, 0, 0, nullptr},
}};

const Parameter* parameterForStage(int stage)
{
    for (const Parameter& p : kParameters) {
        if (p.stage == stage)
            return &p;
    }
    return nullptr;
}

const Parameter& parameterForField(Field field)
{
    for (const Parameter& p : kParameters) {
        if (p.field == field)
            return p;
    }
    Q_UNREACHABLE();
}

int gapAfterStage(int stage)
{
    switch (stage) {
    case 5:
    case 17:
        return 1;
    case 22:
        return 2;
    default:
        return 0;
    }
}

} // namespace tarvik
