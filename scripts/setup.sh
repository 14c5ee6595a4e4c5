#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kor needs.
# Runs as root on Debian 12; packages already present are skipped, so a
# machine that has them all never touches the network.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev cmake ninja-build
  libgtest-dev
  openjdk-17-jdk-headless junit5
  qt6-base-dev fonts-dejavu-core
  libsqlite3-dev libxerial-sqlite-jdbc-java libh2-java
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
