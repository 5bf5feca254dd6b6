#!/usr/bin/env bash
# Builds the fuzz targets with clang in a build folder of their own and runs them.
#   fuzz/run.sh [picture|bmp|metadata] [seconds]
#                                        fuzzes one target (default picture, 600 s),
#                                        new inputs kept in fuzz/corpus-run/, faults
#                                        in fuzz/corpus-run/artifacts/
#   fuzz/run.sh --regressions            runs every seed and every input in
#                                        fuzz/regressions once through the picture
#                                        and BMP targets, and fuzz/metadata-seeds and
#                                        fuzz/metadata-regressions through the
#                                        metadata target
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh fuzz
build="${PW_FUZZ_BUILD_DIR:-build-fuzz}"
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPW_BUILD_TESTS=OFF -DPW_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target picture_fuzzer bmp_fuzzer metadata_fuzzer make_fuzz_seeds
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# A picture may be 2 GiB by our own limit: a bit more than that is allowed.
limits=(-rss_limit_mb=2560 -malloc_limit_mb=2560 -timeout=60)
# What a file carries is read in a few dozen MiB at the most.
metadata_limits=(-rss_limit_mb=768 -malloc_limit_mb=256 -timeout=30)

if [ "${1:-}" = "--regressions" ]; then
  for target in picture bmp; do
    echo "== ${target}_fuzzer over fuzz/seeds and fuzz/regressions"
    "$build/fuzz/${target}_fuzzer" -runs=0 "${limits[@]}" fuzz/seeds fuzz/regressions
  done
  echo "== metadata_fuzzer over fuzz/metadata-seeds and fuzz/metadata-regressions"
  "$build/fuzz/metadata_fuzzer" -runs=0 "${metadata_limits[@]}" fuzz/metadata-seeds fuzz/metadata-regressions
  exit 0
fi

target="${1:-picture}"
seconds="${2:-600}"
seeds=fuzz/seeds
[ "$target" = metadata ] && seeds=fuzz/metadata-seeds limits=("${metadata_limits[@]}")
mkdir -p "fuzz/corpus-run/$target" fuzz/corpus-run/artifacts
exec "$build/fuzz/${target}_fuzzer" -max_len=65536 -max_total_time="$seconds" -print_final_stats=1 "${limits[@]}" \
  -artifact_prefix=fuzz/corpus-run/artifacts/ "fuzz/corpus-run/$target" "$seeds"
