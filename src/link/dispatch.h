// Routing of arriving datagrams and timer expiries by the operation in progress.
//
// A reply carries nothing that says which request it answers: whatever arrives while an operation
// waits is taken as that operation's reply. The same order of tests decides what a timeout means.
#pragma once

#include <QtGlobal>

namespace tarvik {

// Op_Code values with a meaning of their own; 1-32 are read stages, 101-132 write stages.
inline constexpr qint16 kOpScan = 0;
inline constexpr qint16 kOpRestoreDefaults = 40;
inline constexpr qint16 kOpWriteBase = 100;

enum class Branch { Discovery, Defaults, Write, Read };

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
