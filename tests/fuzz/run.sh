#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) and
# runs each for the given number of seconds (default 180), one after the other.
# Not part of ctest or of the CMake build.
#   tests/fuzz/run.sh [seconds]
# Build folder: $FUZZ_BUILD_DIR, default ./build-fuzz. Needs: clang libclang-rt-14-dev.
# A finding is written to <build folder>/crash-<target>-* and ends the run with status 1.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs="${1:-180}"
out="${FUZZ_BUILD_DIR:-build-fuzz}"
cxx="${FUZZ_CXX:-clang++}"
mkdir -p "$out/obj"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -Isrc -pthread)

# The model layer once, instrumented for coverage; each target links what it needs from it.
objs=()
for src in src/model/*.cpp; do
    obj="$out/obj/$(basename "${src%.cpp}").o"
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
    objs+=("$obj")
done
"$cxx" "${flags[@]}" -fsanitize=fuzzer tests/fuzz/IniFileFuzz.cpp src/storage/IniFile.cpp "${objs[@]}" \
    -o "$out/ini_fuzz"
"$cxx" "${flags[@]}" -fsanitize=fuzzer tests/fuzz/TranslitFuzz.cpp "${objs[@]}" -o "$out/translit_fuzz"

status=0
run() {
    local name="$1"; shift
    mkdir -p "$out/corpus/$name"
    cp -n tests/fuzz/seeds/"$name"/* "$out/corpus/$name/" 2>/dev/null || true
    echo "== $name: ${secs}s"
    "$out/${name}_fuzz" "$out/corpus/$name" -max_total_time="$secs" -max_len=16384 -print_final_stats=1 \
        -artifact_prefix="$out/crash-$name-" "$@" || status=1
}
run ini -dict=tests/fuzz/ini.dict
run translit
exit $status
