// The state that ties the operations together; owned by the window for its whole life.
#pragma once

#include "ops/device.h"

#include <array>

namespace tarvik {

inline constexpr int kDeviceTableSize = 254;

struct OperationState
{
    qint16 Op_Code = 0;      // operation in progress and the reply it waits for
    qint16 Device_Count = 0; // live entries of Device_Table, items of Device_List
    // One entry per discovered module: its whole discovery reply (the first six bytes are its
    // identity), the card the reply came on, and whether it answers with its identity.
    std::array<Device, kDeviceTableSize> Device_Table{};
    qint16 Sel_Device = 0;  // the module that read, write, restore and reset address
    qint16 Scan_Round = 0;  // "SETUP" broadcasts sent in the scan in progress; 0 = no scan
    qint16 Retry_Count = 0; // restarts already made of the current read or write

    // Whether Sel_Device designates a live entry, one that a command may be built from.
    bool selectionIsLive() const { return Sel_Device >= 0 && Sel_Device < Device_Count; }
};

// Steps one of the state's 16-bit counters and codes.
inline void advance(qint16& value, int by)
{
    value = static_cast<qint16>(value + by);
}

} // namespace tarvik
