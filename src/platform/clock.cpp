#include "clock.h"

Clock &Clock::system()
{
    static Clock clock;
    return clock;
}
