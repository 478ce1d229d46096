#!/usr/bin/env bash
# The test command's last line counts tests from CTest's JUnit report: checked here against
# CTest's own summary, on a scratch project with a passing, a failing and a skipped test.
# Usage: check_counts.sh REPO
set -euo pipefail
repo=$1
# shellcheck source=scripts/lib.sh
source "$repo/scripts/lib.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat > "$scratch/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.21)
project(counts NONE)
enable_testing()
add_test(NAME passes COMMAND true)
add_test(NAME passes_too COMMAND true)
add_test(NAME fails COMMAND false)
add_test(NAME skips COMMAND sh -c "exit 77")
set_tests_properties(skips PROPERTIES SKIP_RETURN_CODE 77)
CMAKE
cmake -S "$scratch" -B "$scratch/build" >/dev/null
output=$(cd "$scratch/build" && ctest --output-junit "$scratch/junit.xml" 2>&1 || true)
read -r tests failures skips < <(zuvora_junit_counts "$scratch/junit.xml")
# CTest's words: "75% tests passed, 1 tests failed out of 4", and one line per skipped test.
own_total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' <<<"$output")
own_failed=$(sed -n 's/.*passed, \([0-9]*\) tests failed.*/\1/p' <<<"$output")
own_skipped=$(grep -c '(Skipped)' <<<"$output" || true)
echo "report: $tests tests, $failures failed, $skips skipped; CTest: $own_total, $own_failed, $own_skipped"
[ "$tests" = "$own_total" ] && [ "$failures" = "$own_failed" ] && [ "$skips" = "$own_skipped" ] && [ "$tests" = 4 ]
