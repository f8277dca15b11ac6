// Who asked for a privileged action, as audit lines name it.
#pragma once

// "uid=... args=...": the caller identify_caller() read ("" before).
const char* caller_text();
