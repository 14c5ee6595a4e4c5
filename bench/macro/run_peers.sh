#!/usr/bin/env bash
# run_peers.sh BUILD_DIR RUNS N [N...]
#
# Runs the macro benchmark's programs from BUILD_DIR (built with the
# release preset for figures worth keeping) RUNS times for each N, each run
# of each peer in its own process and its own fresh directory, the peers
# taking turns within a run; then prints the table (bench/macro/macro_table).
# The raw figures stay in $KOR_MACRO_OUT (default: a temporary file, named
# at the end).
#
# KOR_MACRO_PEERS limits the peers (default: kor-c++ sqlite-c kor-java
# sqlite-jdbc h2). The programs print nothing but figures on standard
# output; their standard error goes to the log beside the figures.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 BUILD_DIR RUNS N [N...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
runs=$2
shift 2
peers=${KOR_MACRO_PEERS:-kor-c++ sqlite-c kor-java sqlite-jdbc h2}

out=${KOR_MACRO_OUT:-$(mktemp "${TMPDIR:-/tmp}/kor-macro.XXXXXX.tsv")}
log=${out%.tsv}.log
: >"$out"
: >"$log"

java=${JAVA:-java}
share=/usr/share/java
classpath="$build/bench/macro/kor-macro.jar:$build/java/kor.jar:$share/sqlite-jdbc.jar:$share/h2.jar"
library="$build/korjni/libkorjni.so"

run_one() {  # peer N
  local peer=$1 n=$2 work
  work=$(mktemp -d "${TMPDIR:-/tmp}/kor-macro-run.XXXXXX")
  (
    cd "$work"
    case $peer in
      kor-c++) LD_LIBRARY_PATH="$build/korjni" "$build/bench/macro/kor_macro" "$n" ;;
      sqlite-c) "$build/bench/macro/sqlite_macro" "$n" ;;
      kor-java) "$java" -Dtarvo.kor.library="$library" -cp "$classpath" KorMacro "$n" ;;
      sqlite-jdbc | h2) "$java" -cp "$classpath" JdbcMacro "$peer" "$n" ;;
      *) echo "unknown peer $peer" >&2; exit 2 ;;
    esac
  ) >>"$out" 2>>"$log" || {
    echo "run_peers: $peer N=$n failed (log: $log)" >&2
    [ -f "$work/KORLIB.OUT" ] && cat "$work/KORLIB.OUT" >&2
    rm -rf "$work"
    return 1
  }
  rm -rf "$work"
}

for n in "$@"; do
  for run in $(seq 1 "$runs"); do
    for peer in $peers; do
      echo "run_peers: N=$n run $run/$runs $peer" >&2
      run_one "$peer" "$n"
    done
  done
done

"$build/bench/macro/macro_table" <"$out"
echo
echo "raw figures: $out (log $log)"
