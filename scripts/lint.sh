#!/usr/bin/env bash
# Style checks: clang-format on every C++ file, clang-tidy on the program's sources.
#   scripts/lint.sh format        check formatting (fails on any difference)
#   scripts/lint.sh format-fix    rewrite files in place
#   scripts/lint.sh tidy BUILDDIR clang-tidy with BUILDDIR's compile_commands.json
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-format}
version=$(clang-format --version | sed -E 's/.*version ([0-9]+).*/\1/')
if [[ "$version" != 14 ]]; then
    echo "clang-format 14 is required (found $version)" >&2
    exit 1
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')

case "$mode" in
format)
    clang-format --dry-run -Werror "${files[@]}"
    echo "format: ${#files[@]} files clean"
    ;;
format-fix)
    clang-format -i "${files[@]}"
    ;;
tidy)
    build=${2:-build/dev}
    mapfile -t sources < <(git ls-files 'src/*.cpp' | grep -v -E '\.(test|fuzz)\.cpp$')
    run-clang-tidy -quiet -p "$build" -j 2 "${sources[@]/#/$PWD/}" >"$build/tidy.log" 2>&1 || {
        sed -E "s/\x1b\[[0-9;]*m//g" "$build/tidy.log" | grep -E "error:|warning:" | sort -u | head -50
        echo "tidy: failed (full log in $build/tidy.log)" >&2
        exit 1
    }
    echo "tidy: ${#sources[@]} files clean"
    ;;
*)
    echo "unknown mode: $mode" >&2
    exit 2
    ;;
esac
