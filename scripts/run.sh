#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. The build
# folder, build/, is also the one the README installs and packages from.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/builds.sh
scripts/install-dependencies.sh run
build_program
exec "$program_build/app/picture-workbench" "$@"
