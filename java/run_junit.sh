#!/bin/sh
# run_junit.sh JAVA [JVM ARGUMENTS...]
#
# Runs the JVM in a fresh empty directory that is removed afterwards, and
# exits with the JVM's status. The library under test reads CONFIG.ZSR from
# the current directory and fixes its log KORLIB.OUT there when it is
# loaded; a JVM cannot change its directory, so each run gets its own.
#
# KOR_JVM_PRELOAD, when set, is put in front of LD_PRELOAD for the JVM only:
# a library built with AddressSanitizer needs its run time loaded first, and
# the java launcher is not instrumented.
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 JAVA [JVM ARGUMENTS...]" >&2
  exit 2
fi
java=$1
shift

work=$(mktemp -d "${TMPDIR:-/tmp}/kor-junit.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$work" || exit 2

if [ -n "${KOR_JVM_PRELOAD:-}" ]; then
  LD_PRELOAD="$KOR_JVM_PRELOAD${LD_PRELOAD:+ $LD_PRELOAD}" "$java" "$@"
else
  "$java" "$@"
fi
status=$?

# The library's log tells what the engine saw; show it with a failure.
if [ "$status" -ne 0 ] && [ -f KORLIB.OUT ]; then
  echo "--- KORLIB.OUT of the failed run:" >&2
  cat KORLIB.OUT >&2
fi
exit "$status"
