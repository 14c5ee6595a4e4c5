#!/usr/bin/env bash
# Builds everything under the dev preset (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test: GoogleTest, JUnit 5 in the
# real JVM, all through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
