#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests in a build
# folder of their own (build-tests/) and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/builds.sh
scripts/install-dependencies.sh test
export QT_QPA_PLATFORM=offscreen
build_tests
ctest --test-dir "$test_build" --output-on-failure --no-tests=error -j "$(nproc)"
