// One supervised program and how it is started.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct SupervisedProgram {
    std::string name;               // used only in messages
    std::vector<std::string> args;  // never empty: args[0] is the executable
    std::optional<pid_t> pid;       // the latest child, kept after it is reaped
    bool disabled = false;          // the executable was missing: never started again
};

// Starts the program in a child that dies with the supervisor and records its
// pid; a missing executable disables the record, a failed fork clears the pid.
void start_program(SupervisedProgram& program);

// The record whose running child has this pid, or nullptr. Disabled records
// are passed over: their last pid belongs to a child already reaped, and the
// kernel may since have given that number to another program's child.
SupervisedProgram* find_by_pid(std::vector<SupervisedProgram>& list, pid_t pid);
