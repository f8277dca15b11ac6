// How a step of starting a tool fails, where a line must say that it did not
// run.
#pragma once

// Told the diagnostic of a step that fails (see step_failed) in a process
// whose ids are root's; nullptr: nobody.
using FailureNote = void (*)(const char* diagnostic);

// The note for every step that fails from now on in this process.
void note_failures(FailureNote note);

// Ends the process with status 2 and err(3)'s line for `format` and errno,
// after handing that line (without "app: ") to the note, if there is one and
// the process's ids are root's by then: none of the caller's can end it first.
[[noreturn]] void step_failed(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether the real, effective and saved user ids are all 0.
bool ids_are_root();
