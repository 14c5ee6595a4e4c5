#!/usr/bin/env bash
# Builds the library and the Java code (release preset) and runs the demo
# program against the example database.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release
cmake --build --preset release
bash examples/run_demo.sh build/release
