#!/bin/sh
# imports.sh BINARY: C source naming every function BINARY imports, in a table
# the linker keeps; declared without headers, so any prototype will do.
set -e
names=$(nm -D --undefined-only "$1" | awk '$1 == "U" {sub(/@.*/, "", $2); print $2}')
for name in $names; do echo "extern void $name(void);"; done
echo "void (*const bench_imports[])(void) = {"
for name in $names; do echo "    $name,"; done
echo "};"
