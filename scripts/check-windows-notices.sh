#!/usr/bin/env bash
# Checks that THIRD-PARTY-NOTICES.txt of the Windows package names every DLL and font file the
# package holds: each *.dll (Qt's plugins too) and each *.ttc, *.ttf or *.otf anywhere in
# BUILD_DIR/package/OrvCamera must be named by its path
# in that folder (platforms/qwindows.dll), as a name of its own, not as part of a longer one, in
# the list of components at the top (before the heading of the copyright records and licence
# texts, whose file names do not count).
# Lists every file that is not named and fails, so that a DLL or font added to the package without
# its notice fails the package build. scripts/package-windows.sh runs it last.
#   scripts/check-windows-notices.sh BUILD_DIR
set -euo pipefail
folder=${1:?usage: check-windows-notices.sh BUILD_DIR}/package/OrvCamera
notices=$folder/THIRD-PARTY-NOTICES.txt
fail() {
    echo "check-windows-notices.sh: $*" >&2
    exit 1
}
[[ -f $notices ]] || fail "no $notices"
list=$(sed '/^Copyright records and licence texts/,$d' "$notices")
[[ $list != "$(cat "$notices")" ]] || fail "$notices has no heading 'Copyright records and licence texts'"

missing=()
count=0
while IFS= read -r -d '' dll; do
    name=${dll#"$folder"/}
    count=$((count + 1))
    # The name as grep -E reads it literally, with no letter, digit, - or _ on either side and
    # no / before it (platforms/qwindows.dll does not name qwindows.dll, nor the other way).
    # shellcheck disable=SC2001,SC2016 # one escape for each of grep's special characters
    pattern=$(sed 's/[][\.|$(){}?+*^]/\\&/g' <<<"$name")
    grep -qiE "(^|[^[:alnum:]_/-])$pattern([^[:alnum:]_-]|$)" <<<"$list" || missing+=("$name")
done < <(find "$folder" -type f \( -iname '*.dll' -o -iname '*.ttc' -o -iname '*.ttf' -o -iname '*.otf' \) -print0)
((count > 0)) || fail "no DLL in $folder"
((${#missing[@]} == 0)) || fail "THIRD-PARTY-NOTICES.txt does not name: ${missing[*]}"
echo "check-windows-notices.sh: all $count DLLs and fonts of $folder are named in THIRD-PARTY-NOTICES.txt"
