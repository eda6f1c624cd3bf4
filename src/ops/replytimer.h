// The one time-out timer of the operations, as they see it: arming (re)starts a countdown,
// stopping cancels a pending expiry, and an expiry calls Operations::Timer1_Timer.
#pragma once

namespace tarvik {

class ReplyTimer
{
public:
    virtual ~ReplyTimer() = default;
    virtual void arm(int milliseconds) = 0;
    virtual void stop() = 0;
};

} // namespace tarvik
