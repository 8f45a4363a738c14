#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Quick when
# everything is present: it asks dpkg first and calls apt-get only for what
# is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libboost-dev libboost-thread-dev
  libsndfile1-dev libfftw3-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-distributed
  lv2-dev lilv-utils sordi liblilv-dev
)
case "${1:-}" in
  --bench) packages+=(sox libsox-fmt-all hyperfine) ;;
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --docs) packages+=(doxygen) ;;
  --browser) packages+=(chromium) ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
