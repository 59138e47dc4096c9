#!/bin/sh
# The core's mutation sample that the closing notes quote: plants faults at the sites that the seed
# draws from src/core of TREE (a worktree of its own: mutants edits files in place), rebuilds the
# core test program and runs it.
#   scripts/mutants-core.sh TREE [SEED [COUNT]]        (from the project's root)
set -eu
case "${1:-}" in
--build)
    # mutants puts a file back with its old time stamp: the file mutated last is touched, or ninja
    # would keep its mutated object.
    cd "$2"
    [ -f build/mut/last-mutated ] && xargs -r touch < build/mut/last-mutated
    git diff --name-only -- src > build/mut/last-mutated
    exec cmake --build build/mut --target fernhollow_core_tests -j2 > /dev/null ;;
--test)
    cd "$2"
    exec timeout 600 build/mut/bin/fernhollow_core_tests > /dev/null 2>&1 ;;
esac
tree=$(cd "$1" && pwd)
script=$(cd "$(dirname "$0")" && pwd)/mutants-core.sh
mutants=$(cd "$(dirname "$0")/.." && pwd)/../shared/tools/mutants
cmake --preset dev -S "$tree" -B "$tree/build/mut" -DFERNHOLLOW_WERROR=OFF > /dev/null
rm -f "$tree/build/mut/last-mutated"
cd "$tree"
exec "$mutants" --build "$script --build $tree" --test "$script --test $tree" \
    --count "${3:-60}" --seed "${2:-17}" src/core
