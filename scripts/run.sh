#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPW_BUILD_TESTS=OFF
cmake --build build --target picture-workbench -j "$(nproc)"
exec build/app/picture-workbench
