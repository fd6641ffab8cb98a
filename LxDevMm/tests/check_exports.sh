#!/bin/sh
# check_exports.sh LIBRARY NAME...
# Fails unless every NAME is a defined dynamic symbol of LIBRARY under exactly
# that (undecorated) name.
library=$1
shift
symbols=$(nm -D --defined-only "$library" | awk '{print $NF}') || exit 1
status=0
for name in "$@"; do
  if ! printf '%s\n' "$symbols" | grep -qx "$name"; then
    echo "missing export: $name in $library"
    status=1
  fi
done
[ $status -eq 0 ] && echo "all $# exports present in $library"
exit $status
