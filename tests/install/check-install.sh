#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the examples against the
# installed tree twice (CMake's find_package, then pkg-config with a plain
# compiler call) and runs them. Usage: check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for path in include/zoc/zoc.h lib/libzoaudio.so lib/libzoaudio-platform.so bin/zoc \
            lib/cmake/ZoAudioComponents/ZoAudioComponentsConfig.cmake lib/pkgconfig/zoaudio.pc; do
  [[ -e "$prefix/$path" ]] || { echo "not installed: $path"; exit 1; }
done
# The public header stands alone: nothing else of the source tree is installed.
[[ $(find "$prefix/include" -type f | wc -l) -eq 1 ]] || { echo "more headers than zoc.h installed"; exit 1; }

# The installed zoc runs from its own lib folder and makes the test input.
"$prefix/bin/zoc" --version | grep -q '^zoc [0-9]'
"$prefix/bin/zoc" generate Tones "$work/tone.wav" --duration 0.5 --quiet

run_examples() {
  local bin=$1
  "$bin/list_components" > "$work/list.txt"
  grep -q '^Echo (Echo)' "$work/list.txt"
  grep -q 'preset: Analog Delay' "$work/list.txt"
  "$bin/apply_effect" | grep -q '^Echo: 250.00 ms'
  "$bin/chain_file" "$work/tone.wav" "$bin/out.wav" > /dev/null
  [[ -s "$bin/out.wav" ]]
  # Unknown names are reported, not crashed on.
  if "$bin/chain_file" "$work/missing.wav" "$bin/none.wav" 2> /dev/null; then exit 1; fi
}

# 1. CMake package.
cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_STANDARD=17 > "$work/cmake.log"
cmake --build "$work/cmake" -j2 > "$work/cmake-build.log"
run_examples "$work/cmake"

# 2. pkg-config, as a Makefile would use it.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
mkdir -p "$work/pc"
flags=$(pkg-config --cflags --libs zoaudio)
for example in apply_effect list_components; do
  c++ -std=c++17 -Wall -Werror "$source/examples/$example.cpp" -o "$work/pc/$example" $flags -Wl,-rpath,"$prefix/lib"
done
c++ -std=c++17 -Wall -Werror "$source/examples/chain_file.cpp" -o "$work/pc/chain_file" \
  $(pkg-config --cflags --libs zoaudio sndfile) -Wl,-rpath,"$prefix/lib"
run_examples "$work/pc"
echo "installed tree builds and runs the examples"
