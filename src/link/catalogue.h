// The 28 module parameters as one table: how each is queried, set and read back.
#pragma once

#include <QtGlobal>

#include <array>

namespace tarvik {

// The parameter fields of the window, one per module parameter.
enum class Field : quint8 {
    Ethernet_Mode, G_IP, S_IP, MASK, Disp_Mode,
    UART_BaudRate, UART_Stream, UART_Bits, UART_TimeDeli, UART_ByteDeli, UART_Parity, UART_Stopbit,
    Ch1_SOCK_Mode, Ch1_Port_Number, Ch1_D_IP, Ch1_D_Port,
    Ch2_SOCK_Mode, Ch2_Port_Number, Ch2_D_IP, Ch2_D_Port,
    Ch3_SOCK_Mode, Ch3_Port_Number, Ch3_D_IP, Ch3_D_Port,
    Ch4_SOCK_Mode, Ch4_Port_Number, Ch4_D_IP, Ch4_D_Port,
};
inline constexpr int kFieldCount = 28;

// How a read reply carries the value (byte offsets from the start of the datagram).
enum class Layout : quint8 {
    Digit,     // drop-down: one digit in byte 7
    ZeroDigit, // drop-down: "0" in byte 6, the digit in byte 7
    Number4,   // text: four digits in bytes 7-10
    Number5,   // text: five digits in bytes 6-10
    Address,   // text: four 3-digit groups in bytes 6-8, 10-12, 14-16, 18-20
};

struct Parameter
{
    qint16 stage;        // read stage; the write stage is stage + 100
    char code[3];        // two upper-case letters
    char channel;        // '1'..'4' for the per-channel commands, 0 otherwise
    Field field;         // window field the value comes from and goes to
    Layout layout;
    char base;           // drop-downs: value character of the first entry
    quint8 entries;      // drop-downs: number of entries
    const char* message; // drop-downs: log text when a read reply carries a value out of range

    bool isDropDown() const { return layout == Layout::Digit || layout == Layout::ZeroDigit; }
    int writeStage() const { return stage + 100; }
    // Digit values a reply may carry for a drop-down, and the entry the lowest one selects.
    int lowestDigit() const { return base - '0'; }
    int highestDigit() const { return lowestDigit() + entries - 1; }
};

inline constexpr int kParameterCount = 28;
extern const std::array<Parameter, kParameterCount> kParameters;

// Read and write chains: first and last stage; stages 6, 18, 23 and 24 carry no command.
inline constexpr qint16 kFirstReadStage = 1;
inline constexpr qint16 kLastReadStage = 32;
inline constexpr qint16 kWriteOffset = 100;
inline constexpr qint16 kFirstWriteStage = 101;
inline constexpr qint16 kLastWriteStage = 132;

// The parameter read at a stage, or nullptr for a stage without a command.
const Parameter* parameterForStage(int stage);
const Parameter& parameterForField(Field field);

// How far a stage number jumps after the parameter of `stage` (read) or `stage + 100` (write) is
// handled, on top of the regular step of one: the unused numbers 6, 18, 23 and 24 are stepped over.
int gapAfterStage(int stage);

} // namespace tarvik
