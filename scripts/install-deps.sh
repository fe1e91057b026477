#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
# With arguments, installs those packages instead (when missing).
set -euo pipefail
if [ "$#" -gt 0 ]; then
  pkgs=("$@")
else
  pkgs=(cmake ninja-build g++ libgtest-dev libgmock-dev nlohmann-json3-dev libxxhash-dev libgcrypt20-dev
        libssl-dev libbenchmark-dev util-linux libcrypt-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
