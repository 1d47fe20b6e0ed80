#!/bin/sh
# The codec as a command: hex of a test-module message to value notation,
# and that text back to the same hex.
set -eu
tool=$1
# A cross build runs the target's program through its emulator.
run() { ${KORVEND_EMULATOR:+$KORVEND_EMULATOR} "$tool" "$@"; }
hex="C0 01 07 00 03 04 00 04"
text=$(run decode AsnTest Message "$hex")
back=$(printf '%s\n' "$text" | run encode AsnTest Message)
[ "$back" = "$hex" ] || { echo "got '$back' from:"; echo "$text"; exit 1; }
echo "$hex -> value notation -> $back"
