#!/usr/bin/env bash
# bash bench/run_macro.sh [N...]
#
# Builds the macro benchmark with the release preset in build/bench (or
# $KOR_BENCH_BUILD) and runs workloads W1-W7 on Kor (from C++ and from Java)
# and its peers (SQLite through C and JDBC, H2 through JDBC) over the same
# seeded data, then prints the table. Default N: 100000. Runs per N:
# $KOR_MACRO_RUNS (default 3). See bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KOR_BENCH_BUILD:-build/bench}
runs=${KOR_MACRO_RUNS:-3}
[ $# -gt 0 ] || set -- 100000

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" -j 2 --target korjni kor_jar kor_macro sqlite_macro macro_table macro_jar
exec bench/macro/run_peers.sh "$build" "$runs" "$@"
