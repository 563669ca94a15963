#!/usr/bin/env bash
# Compares a DLL's export names with a list, one name a line:
#   check_exports.sh <objdump> <dll> <list>
set -euo pipefail
objdump=$1
shift
actual=$("$objdump" -p "$1" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
if diff <(echo "$actual") <(sort "$2"); then
  echo "exports as expected:"
  echo "$actual"
else
  echo "export table differs (< actual, > expected)" >&2
  exit 1
fi
