#!/bin/sh
# imports.sh BINARY REFERENCE: C source naming every function BINARY imports
# and REFERENCE does not, in a table the linker keeps; declared without
# headers, so any prototype will do.
set -e
imports() { "${NM:-nm}" -D --undefined-only "$1" | awk '$1 == "U" {sub(/@.*/, "", $2); print $2}' | sort; }
own=$(mktemp)
trap 'rm -f "$own"' EXIT
imports "$2" > "$own"
names=$(imports "$1" | comm -23 - "$own")
for name in $names; do echo "extern void $name(void);"; done
echo "void (*const bench_imports[])(void) = {"
for name in $names; do echo "    $name,"; done
echo "};"
