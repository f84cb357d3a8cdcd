#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (run as root; does nothing when all is there).
# Packages named as arguments are wanted too (the packaging scripts add theirs).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev python3 pkg-config
      libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
      qt6-base-dev qt6-translations-l10n libgl-dev xvfb xauth socat
      libqt6sql6-sqlite libqt6sql6-psql postgresql poppler-utils fonts-dejavu-core "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
