#!/bin/sh
# .ci/run runs the README's test command whole: a copy of it over a stand-in
# scripts/test.sh, which prints what it was given, must never hand on QV_SKIP_WINDOWS.
# Usage: ci-run-test.sh <source tree>
set -u
root=$1
failures=0
dir=$(mktemp -d /tmp/qv-ci-run.XXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/.ci" "$dir/scripts"
cp "$root/.ci/run" "$dir/.ci/run"
printf '#!/bin/sh\necho "test.sh $* QV_SKIP_WINDOWS=${QV_SKIP_WINDOWS-unset}"\n' > "$dir/scripts/test.sh"
chmod +x "$dir/.ci/run" "$dir/scripts/test.sh"
for value in 1 0 "" yes; do
    out=$(QV_SKIP_WINDOWS=$value "$dir/.ci/run" 2>&1)
    [ "$out" = "test.sh  QV_SKIP_WINDOWS=unset" ] ||
        { echo "FAIL: with QV_SKIP_WINDOWS='$value', .ci/run ran: $out" >&2; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] || exit 1
echo ".ci/run: the whole test command, whatever QV_SKIP_WINDOWS holds"
