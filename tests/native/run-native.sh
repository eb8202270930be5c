#!/usr/bin/env bash
# Builds the platform-independent core natively with clang and runs its tests, once with
# AddressSanitizer + UndefinedBehaviorSanitizer and once with ThreadSanitizer.
#   tests/native/run-native.sh [out-dir=build/native] [variant...]   variants: asan tsan
# Exit status 0 only when every variant built and passed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="${1:-$root/build/native}"; shift || true
variants=("$@"); ((${#variants[@]})) || variants=(asan tsan)
export CC=clang CXX=clang++
status=0
for v in "${variants[@]}"; do
    case "$v" in
        asan) san="address,undefined" ;;
        tsan) san="thread" ;;
        *) echo "unknown variant $v" >&2; exit 2 ;;
    esac
    dir="$out/$v"
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRIMLOCK_SANITIZE="$san" >/dev/null
    cmake --build "$dir" -j2 --target native_core_tests >/dev/null
    echo "== native core tests, $v ($san)"
    # halt_on_error: any report fails the run; TSan exits non-zero on a race by default.
    if ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       TSAN_OPTIONS=halt_on_error=1 "$dir/native_core_tests" --gtest_brief=1; then
        echo "== $v: passed"
    else
        echo "== $v: FAILED"; status=1
    fi
done
exit $status
