// How every tool that runs as root is started, whoever called us.
#pragma once

// Whether the tool starts a session of its own or stays in the caller's.
// Only the game stays: it may read the caller's terminal.
enum class Session { New, Caller };

// Ends the process with "setuid: Operation not permitted", status 2, unless
// enter_root_context can make it root: effective user id 0, CAP_SETUID and
// CAP_SETGID effective, in the initial user namespace. An applet asks before
// its first line and before anything is scheduled or started.
void require_root();


// Gives this process what a service manager gives every service it starts,
// as far as a process that descends from its caller can have it: real,
// effective and saved user and group id 0 and no supplementary groups; a
// session of its own (unless Session::Caller); standard streams only where the
// caller opened them in the right direction, /dev/null elsewhere; init's
// resource limits and CPU affinity; SCHED_OTHER at nice 0 with the default
// time slice, utilization clamps and I/O priority; the kernel attributes of init_attributes.h;
// file mode mask 022; working directory "/"; every signal at its default and
// none blocked. Each step that fails ends the process with status 2. Call it
// right before the exec of the tool, in a process that is not a process group
// leader (setsid refuses one).
void enter_root_context(Session session = Session::New);

// The last step: the exec of argv[0] with `argv`. Where it fails, the step
// named `failure` ("execl") has failed (common/failure.h).
[[noreturn]] void exec_tool(char* const argv[], const char* failure);
