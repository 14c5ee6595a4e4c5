#!/usr/bin/env bash
# Builds everything under the dev preset (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test: GoogleTest, JUnit 5 in the
# real JVM, Qt Test, all through CTest; then the server's tests under
# ThreadSanitizer (the tsan preset); then builds the session fuzzer with
# clang and runs it for a bounded time (KOR_FUZZ_SECONDS, default 120).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev

# The threads, sockets and server tests again under ThreadSanitizer (only
# their targets are built).
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan

cmake --preset fuzz -DKOR_FUZZ_SECONDS="${KOR_FUZZ_SECONDS:-120}"
cmake --build --preset fuzz
ctest --preset fuzz
