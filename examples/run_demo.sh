#!/usr/bin/env bash
# run_demo.sh BUILD_DIR
# Runs the Java demo against a fresh copy of the example database (the
# engine writes its table files and counter file there, so the bundled
# files stay untouched). The engine reads CONFIG.ZSR from the process's
# current directory, so the JVM starts in the copy.
#
# KOR_JVM_PRELOAD, when set, is put in front of LD_PRELOAD for the JVM only
# (a library built with AddressSanitizer needs its run time loaded first).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run_demo.sh BUILD_DIR}" && pwd)

work="$build/demo-database"
rm -rf "$work"
mkdir -p "$work/classes"
cp "$here"/database/* "$work/"

javac -encoding UTF-8 --release 17 -d "$work/classes" -cp "$build/java/kor.jar" \
  "$here/demo/tarvo/kor/demo/Demo.java"

cd "$work"
LD_PRELOAD="${KOR_JVM_PRELOAD:-}${KOR_JVM_PRELOAD:+${LD_PRELOAD:+ }}${LD_PRELOAD:-}" \
  java -Dtarvo.kor.library="$build/korjni/libkorjni.so" \
  -cp "$build/java/kor.jar:$work/classes" tarvo.kor.demo.Demo
echo "--- KORLIB.OUT:"
cat KORLIB.OUT
