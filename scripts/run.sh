#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs Fernhollow: the tray app, or
# with arguments the command they name (`scripts/run.sh report`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target fernhollow
exec build/release/bin/fernhollow "$@"
