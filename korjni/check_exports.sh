#!/usr/bin/env bash
# Checks that libkorjni.so exports exactly its eight entry points.
set -euo pipefail
expected="Java_tarvo_kor_KorLib_KorDone
Java_tarvo_kor_KorLib_KorInit
Java_tarvo_kor_KorLib_KorRead
Java_tarvo_kor_KorLib_KorWrite
KorDone
KorInit
KorRead
KorWrite"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "unexpected exports of $1:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports of $1: the eight entry points"
