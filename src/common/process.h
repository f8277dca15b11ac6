// Small process helpers shared by the applets and the supervisor.
#pragma once

#include <ctime>

// Sleeps the whole time even when signals interrupt it; other failures end it.
void sleep_whole_seconds(time_t seconds);

// Makes the real user id root before a system tool runs, or ends with status 2.
void become_root();
