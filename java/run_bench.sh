#!/bin/sh
# run_bench.sh BUILD_DIR
#
# Builds and runs the Java client benchmark against BUILD_DIR's
# libkorjni.so in a fresh empty directory (the engine works in the current
# directory), removed afterwards. Use a release build for figures; a
# sanitizer build needs KOR_JVM_PRELOAD (see run_junit.sh).
set -eu
build=$(cd "${1:?usage: run_bench.sh BUILD_DIR}" && pwd)
cmake --build "$build" --target kor_java_bench
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/run_junit.sh" java -Dtarvo.kor.library="$build/korjni/libkorjni.so" \
  -cp "$build/java/kor.jar:$build/java/kor-bench.jar" tarvo.kor.bench.ClientBench
