#!/bin/sh
# check_exports.sh LIBRARY LISTFILE EXPECTED_MISSING_FILE
#
# Checks that LIBRARY exports every name of LISTFILE as a defined dynamic
# symbol under exactly that (undecorated) name.
#
# LISTFILE: one export name per line; "#" starts a comment, blank lines are
# ignored. Its file name without ".txt" names the library (LxVideo.txt ->
# LxVideo), and LIBRARY must be that library's file (libLxVideo.so).
#
# EXPECTED_MISSING_FILE: one "Library Name" pair per line, same comments,
# for the exports that are not built yet. For this library each such name
#   - may be missing (counted in the summary line),
#   - must not be exported (then its line has to go),
#   - must be in LISTFILE (a misspelt name would excuse nothing).
# Any other name of LISTFILE that is missing fails the check, and so does
# any defined dynamic symbol of LIBRARY that LISTFILE does not name: a
# library exports exactly its API.
#
# Exit status: 0 all checks passed, 1 a check failed, 2 bad arguments or
# unreadable input.

if [ $# -ne 3 ]; then
  echo "usage: $0 LIBRARY LISTFILE EXPECTED_MISSING_FILE" >&2
  exit 2
fi
library=$1
list=$2
expected=$3

for file in "$library" "$list" "$expected"; do
  if [ ! -r "$file" ] || [ -d "$file" ]; then
    echo "cannot read $file" >&2
    exit 2
  fi
done

lib=${list##*/}
lib=${lib%.txt}
case ${library##*/} in
  "lib$lib.so" | "lib$lib.so."* | "$lib.so") ;;
  *)
    echo "$library is not library $lib (named by $list)" >&2
    exit 2
    ;;
esac

# The lines of a file without comments and blank lines, fields as written.
entries() {
  sed -e 's/#.*//' "$1" | awk 'NF { $1 = $1; print }'
}

# Names are split on white space below; never expand them as patterns.
set -f
status=0

bad=$(sed -e 's/#.*//' "$list" | awk -v f="$list" 'NF > 1 { print f ":" NR ": " $0 }')
if [ -n "$bad" ]; then
  printf 'one name per line expected:\n%s\n' "$bad"
  status=1
fi
bad=$(sed -e 's/#.*//' "$expected" | awk -v f="$expected" 'NF && NF != 2 { print f ":" NR ": " $0 }')
if [ -n "$bad" ]; then
  printf '"Library Name" per line expected:\n%s\n' "$bad"
  status=1
fi

names=$(entries "$list" | awk '{ print $1 }')
if [ -z "$names" ]; then
  echo "$list lists no exports"
  exit 1
fi
excused=$(entries "$expected" | awk -v lib="$lib" 'NF == 2 && $1 == lib { print $2 }')

for dup in $(printf '%s\n' "$names" | sort | uniq -d); do
  echo "$dup is listed twice in $list"
  status=1
done
for dup in $(printf '%s\n' "$excused" | sort | uniq -d); do
  echo "$lib $dup is listed twice in $expected"
  status=1
done
for name in $excused; do
  if ! printf '%s\n' "$names" | grep -qxF "$name"; then
    echo "$name is expected missing from $lib but not in $list"
    status=1
  fi
done

if ! nm_out=$(nm -D --defined-only "$library"); then
  echo "cannot read the dynamic symbols of $library" >&2
  exit 2
fi
symbols=$(printf '%s\n' "$nm_out" | awk 'NF >= 2 { print $NF }')

present=0
absent=0
absent_names=
for name in $names; do
  is_excused=no
  if printf '%s\n' "$excused" | grep -qxF "$name"; then
    is_excused=yes
  fi
  if printf '%s\n' "$symbols" | grep -qxF "$name"; then
    present=$((present + 1))
    if [ $is_excused = yes ]; then
      echo "$name is exported now: remove it from ${expected##*/}"
      status=1
    fi
  elif [ $is_excused = yes ]; then
    absent=$((absent + 1))
    absent_names="${absent_names:+$absent_names }$name"
  else
    echo "missing export: $name"
    status=1
  fi
done

for symbol in $symbols; do
  if ! printf '%s\n' "$names" | grep -qxF "$symbol"; then
    echo "exported outside the API: $symbol"
    status=1
  fi
done

summary="$lib: $present exports present, $absent expected missing"
[ $absent -gt 0 ] && summary="$summary ($absent_names)"
echo "$summary"
exit $status
