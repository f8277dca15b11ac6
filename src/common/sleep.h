// Sleeping through interruptions.
#pragma once

#include <ctime>

// Sleeps the whole time even when signals interrupt it; other failures end it.
void sleep_whole_seconds(time_t seconds);
