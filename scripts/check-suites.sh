#!/usr/bin/env bash
# Fails unless every test suite that must exist is registered with CTest in BUILD_DIR
# (with LABEL, when given), so that a suite lost from the build cannot pass as "nothing
# failed". Also prints how many tests each suite has.
#   scripts/check-suites.sh BUILD_DIR [LABEL]
#   scripts/check-suites.sh --list [LABEL]     only prints the suites' names
set -euo pipefail
dir=$1
label=${2:-}
case "$label" in
    "") want="convert_tests convert_large_tests cli_tests app_tests ui_tests ui_threaded_tests preview_tests res_tests e2e_tests soak_tests res_install res_manpage res_translations" ;;
    threaded) want="convert_tests cli_tests ui_threaded_tests preview_tests e2e_tests soak_tests" ;;
    *) echo "check-suites: no list of suites for label $label" >&2; exit 2 ;;
esac
if [ "$dir" = --list ]; then
    echo $want
    exit 0
fi
listing=$(ctest --test-dir "$dir" ${label:+-L "$label"} --show-only=json-v1)
missing=0
summary=""
for suite in $want; do
    if [ "${suite#res_}" != "$suite" ] && [ "$suite" != res_tests ]; then
        count=$(grep -c "\"name\" : \"$suite\"" <<<"$listing" || true)
    else
        count=$(grep -c "/bin/$suite\"" <<<"$listing" || true)
    fi
    summary+=" $suite=$count"
    if [ "$count" -eq 0 ]; then
        echo "check-suites: $dir has no tests of $suite${label:+ labelled $label}" >&2
        missing=1
    fi
done
echo "suites in $dir${label:+ ($label)}:$summary"
exit $missing
