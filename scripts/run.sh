#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs Fernhollow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target fernhollow
exec build/release/bin/fernhollow "${@:-report}"
