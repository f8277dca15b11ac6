// Signal state handed on to what we start.
#pragma once

// Empties the blocked-signal mask.
void unblock_signals();

// Every signal back to its default action, none blocked.
void reset_signals();
