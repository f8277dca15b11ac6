// Who asked for a privileged action, as audit lines name it.
#pragma once

#include "audit/log_text.h"
#include "common/applet.h"

// "uid=... args=...": the caller identify_caller() read ("" before).
const char* caller_text();

// The arguments as a line shows them: each escaped and cut to 64 bytes, as
// many as fit in 400 (or what is left of `text`), " ..." where some were
// left out.
void append_arguments(LogText& text, const AppletArgs& args);
