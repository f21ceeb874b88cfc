#!/usr/bin/env bash
# The project's test command: native tests (plain and sanitized), win64 tests under the Wine bench,
# the win32 build with its Windows 2000 import check, and the export check. Builds what changed first.
# Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
step() {
    local name=$1
    shift
    echo "==== $name"
    "$@" || failed+=("$name")
}
build() {
    [[ -f build/$1/CMakeCache.txt ]] || cmake --preset "$1" >/dev/null || return 1
    cmake --build --preset "$1"
}

step "native build" build native && step "native tests" ctest --preset native
step "native-asan build" build native-asan && step "native-asan tests" ctest --preset native-asan
step "win64 build" build win64 &&
    step "win64 tests (Wine)" tools/winebench --bench build/win64/winebench exec ctest --preset win64
step "win32 build" build win32 && step "win2000 import check" tools/check-win2000-imports.sh build/win32
step "export check" tools/check-exports.sh build/win64 build/win32

if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all steps passed"
