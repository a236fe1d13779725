#!/usr/bin/env bash
# Installs what is missing, builds Kopyra twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the settings' tests once more with ThreadSanitizer, starts
# what the tests need and runs all tests with ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" test

if [ "$(id -u)" -ne 0 ]; then
    # cupsd and cups-pdf need root; the rest runs as the user.
    exec sudo --preserve-env=HOME,PATH "$0" "$@"
fi

"$top/tools/build.sh" "$top/build" -DKOPYRA_WERROR=ON
"$top/tools/build.sh" "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKOPYRA_SANITIZE=ON \
    -DKOPYRA_WERROR=ON
# Only the tests of what several threads share (the settings): the rest of the program keeps
# its devices on threads of their own.
KOPYRA_BUILD_TARGET=tst_support "$top/tools/build.sh" "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug \
    -DKOPYRA_TSAN=ON -DKOPYRA_WERROR=ON

# shellcheck source=tools/test-services.sh
. "$top/tools/test-services.sh"
kopyra_start_cupsd
kopyra_start_xvfb
kopyra_start_driverless

export LC_ALL=C.UTF-8
# The tests that need X and cupsd fail instead of skipping without them.
export KOPYRA_SERVICES_STARTED=1
export XDG_RUNTIME_DIR=$KOPYRA_SERVICES/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
status=0
echo "== Tests =="
ctest --test-dir "$top/build" --output-on-failure --timeout 300 "$@" || status=1
echo "== Tests unter AddressSanitizer/UndefinedBehaviorSanitizer =="
# Whole stacks for the leaks, so that those in other people's code (tests/lsan.supp) are
# known by where they come from.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
    LSAN_OPTIONS=suppressions=$top/tests/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure --timeout 600 "$@" || status=1
echo "== Tests unter ThreadSanitizer =="
TSAN_OPTIONS="halt_on_error=1 suppressions=$top/tests/tsan.supp" \
    ctest --test-dir "$top/build-tsan" -R '^tst_support$' --output-on-failure || status=1
exit $status
