#!/bin/sh
# asn1-codec on the control link's ping: the four octets decode to the
# message in value notation, and that text encodes back to the same octets.
set -eu
tool=$1
run() { ${KORVEND_EMULATOR:+$KORVEND_EMULATOR} "$tool" "$@"; }
hex="80 01 05 18"
expected='{
  seq 5,
  pdu command : ping : NULL
}'
text=$(run decode LGCP Message "$hex")
[ "$text" = "$expected" ] || { printf 'decoded as:\n%s\n' "$text"; exit 1; }
back=$(printf '%s\n' "$text" | run encode LGCP Message)
[ "$back" = "$hex" ] || { echo "encoded back as '$back'"; exit 1; }
echo "$hex -> value notation -> $back"
