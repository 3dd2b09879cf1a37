#!/usr/bin/env bash
# scripts/check-copyright.sh against small trees of its own: a sound file passes, and each fault it
# looks for fails it with a line naming that fault.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
check=$here/scripts/check-copyright.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/tree/src/sub" "$work/tree/res"
touch "$work/tree/src/sub/a.cpp" "$work/tree/res/data.xml" "$work/tree/top.txt"

sound='Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Sample

Files: *
Copyright: 2026 Someone
License: Apache-2.0

Files: src/*
 res/data.xm?
Copyright: 2026 Someone
 2020 Someone Else
License: Apache-2.0 and BSD-3-clause

License: Apache-2.0
 Licence text.
 .
 More of it.

License: BSD-3-clause
 Other licence text.'

failures=0
expect() { # expect pass|FAULT-LINE NAME COPYRIGHT-TEXT
    local want=$1 name=$2 output status=0
    printf '%s\n' "$3" >"$work/copyright"
    output=$("$check" "$work/copyright" "$work/tree" 2>&1) || status=$?
    if [[ $want == pass ]]; then
        ((status == 0)) || { echo "FAIL $name: refused a sound file: $output"; failures=$((failures + 1)); }
    elif ((status == 0)) || ! grep -qF -- "$want" <<<"$output"; then
        echo "FAIL $name: wanted exit 1 and \"$want\", got exit $status: $output"
        failures=$((failures + 1))
    fi
}

expect pass sound "$sound"
expect "Files: debian/* matches no file" "pattern without files" "$sound

Files: debian/*
Copyright: 2021 Someone
License: Apache-2.0"
expect "Files: src/b.cpp matches no file" "second pattern of a paragraph without files" \
    "${sound/src\/\*/src/* src/b.cpp}"
# A "?" is one character, never none: "top.tx?" matches, "top.txt?" does not.
expect "Files: top.txt? matches no file" "question mark is one character" "${sound/Files: \*/Files: top.txt?}"
# Characters a regular expression would read as its own stay themselves: "." is a dot, so
# "src.sub/a.cpp" is not "src/sub/a.cpp".
expect "Files: src.sub/a.cpp matches no file" "dot" "${sound/Files: \*/Files: src.sub/a.cpp}"
expect "License: BSD-3-clause has more than one paragraph" "licence twice" "$sound

License: BSD-3-clause
 The same licence again."
expect "License: BSD-3-clause has no text" "empty licence" "${sound%%License: BSD-3-clause
 Other*}License: BSD-3-clause"
expect "License: BSD-3-clause has no text" "licence with an empty line only" "${sound%%License: BSD-3-clause
 Other*}License: BSD-3-clause
 ."
expect "License: Expat is named but its text is missing" "licence named without text" \
    "${sound/Apache-2.0 and BSD-3-clause/Apache-2.0 and Expat}"

if ((failures > 0)); then
    exit 1
fi
echo "copyright check: every fault found, the sound file passes"
