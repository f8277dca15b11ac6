// What the kernel and the device's files tell of the caller: /proc and
// /etc/passwd, read once, before the line is composed.
#pragma once

#include <cstddef>
#include <optional>

#include "audit/ids.h"

// How much of a caller's text a line shows, escaped: an argument, the account
// name; the parent's path.
constexpr std::size_t ARGUMENT_MAX_BYTES = 64;
constexpr std::size_t PARENT_MAX_BYTES = 200;

struct CallerFacts {
    // Our user namespace is the initial one: our ids are the kernel's own.
    bool initial_namespace = false;
    // Our real user id, as our own namespace knows it.
    Id own_uid = 0;
    // The ids a line shows: as the initial namespace knows them or, in
    // another, as its parent does; nothing where that cannot be told. NO_ID:
    // never set.
    std::optional<Id> uid;
    std::optional<Id> login_uid;
    std::optional<Id> session;
    Id pid = 0;
    // The account name of `uid` and the parent's executable, kept to one
    // byte more than a line shows of them, so that the line still marks
    // where they were cut; "" in `parent` where it cannot be read.
    bool user_known = false;
    char user[ARGUMENT_MAX_BYTES + 2] = {};
    char parent[PARENT_MAX_BYTES + 2] = {};
};

CallerFacts read_caller_facts();
