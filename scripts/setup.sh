#!/usr/bin/env bash
# Installs what quarn needs on a fresh Debian 12 machine, then builds and
# installs the package. Safe to run again: installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(g++ zlib1g-dev libbz2-dev libzstd-dev zstd libgtest-dev libtbb-dev libutf8proc-dev verilator gtkwave)
missing=()
for p in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

python3 -m pip install -q --disable-pip-version-check "scikit-build-core>=0.10" cmake ninja pytest
# With the test extras: the tests also cover to_pandas, plot and --parquet.
python3 -m pip install -q --disable-pip-version-check --no-build-isolation ".[test]"
