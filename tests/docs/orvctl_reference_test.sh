#!/usr/bin/env bash
# docs/ORVCTL.md is what scripts/orvctl-reference.sh writes from this orvctl's help; and the check
# itself notices a reference that drifted from the program.
#   tests/docs/orvctl_reference_test.sh ORVCTL
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
orvctl=${1:?usage: orvctl_reference_test.sh ORVCTL}
script=$here/scripts/orvctl-reference.sh

"$script" --check "$orvctl"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A document whose help text lost one line, as when an option is added to the program only.
awk '/^  --version/ && !dropped { dropped = 1; next } { print }' "$here/docs/ORVCTL.md" >"$work/ORVCTL.md"
if "$script" --check "$orvctl" "$work/ORVCTL.md" 2>"$work/out"; then
    echo "FAIL: a reference without --version's line passed the check" >&2
    exit 1
fi
grep -qF -- "+  --version" "$work/out" || { echo "FAIL: the check did not show the missing line:" >&2; cat "$work/out" >&2; exit 1; }
echo "orvctl reference: up to date, and a drifted one is refused"
