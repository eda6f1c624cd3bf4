// Op_Code: which operation is in progress and which reply it awaits; the routing of arriving
// datagrams and timer expiries by it, and the operations' timing.
//
// A reply carries nothing that says which request it answers: whatever arrives while an operation
// waits is taken as that operation's reply. The same order of tests decides what a timeout means.
#pragma once

#include "link/catalogue.h"

#include <QtGlobal>

namespace tarvik {

// Op_Code values with a meaning of their own; the read stages of the parameter table lie between
// the scan and restoring defaults, the write stages at kOpWriteBase + the read stage.
inline constexpr qint16 kOpScan = 0;
inline constexpr qint16 kOpRestoreDefaults = 40;
inline constexpr qint16 kOpWriteBase = 100;

inline constexpr qint16 kFirstWriteStage = kOpWriteBase + kFirstReadStage;
inline constexpr qint16 kLastWriteStage = kOpWriteBase + kLastReadStage;
static_assert(kLastReadStage < kOpRestoreDefaults, "a read stage is never taken for restoring defaults");

// Timing: every request is given this long for its reply; a read or a write is started again at
// most kMaxRetries times.
inline constexpr int kReplyTimeoutMs = 400;
inline constexpr int kMaxRetries = 2;
// A scan is this many "SETUP" broadcasts, one per time-out.
inline constexpr int kScanBroadcasts = 4;

enum class Branch
{
    Discovery,
    Defaults,
    Write,
    Read
};

constexpr Branch route(qint16 opCode)
{
    if (opCode == kOpScan)
        return Branch::Discovery;
    if (opCode == kOpRestoreDefaults)
        return Branch::Defaults;
    if (opCode >= kOpWriteBase)
        return Branch::Write;
    return Branch::Read;
}

} // namespace tarvik
