#!/usr/bin/env bash
# Checks the machine-readable Debian copyright file against the tree it describes:
#   - every pattern of every Files: paragraph matches at least one file of the tree;
#   - every stand-alone License: paragraph (a licence's text) has a text and appears once;
#   - every licence a Files: paragraph names has its stand-alone paragraph.
# Prints one line per fault and exits 1 when there is any.
#   scripts/check-copyright.sh [COPYRIGHT_FILE [TREE]]   (default res/debian/copyright of this tree)
set -euo pipefail
set -f # the patterns are words to compare, never to expand here
here=$(cd "$(dirname "$0")/.." && pwd)
copyright=${1:-$here/res/debian/copyright}
tree=${2:-$here}

# The tree's files, relative to its top: git's list (tracked and new files) where it is a clone,
# else every file outside build trees.
if git -C "$tree" rev-parse --show-toplevel >/dev/null 2>&1 &&
    [[ "$(git -C "$tree" rev-parse --show-toplevel)" == "$(cd "$tree" && pwd -P)" ]]; then
    files=$(git -C "$tree" ls-files --cached --others --exclude-standard)
else
    files=$(cd "$tree" && find . -path ./.git -prune -o -path './build*' -prune -o -type f -print | sed 's|^\./||')
fi

# The file's paragraphs are separated by blank lines; a field's continuation lines start with a
# space. awk prints what each paragraph holds: "files PATTERN...", "names LICENCE-EXPRESSION", or
# "text LICENCE LINES" for a stand-alone licence paragraph (LINES: how many lines of text follow).
summary=$(awk '
    function flush() {
        if (has_files) {
            print "files " files_value
            print "names " license_name
        } else if (has_license) {
            print "text " license_name " " text_lines
        }
        has_files = 0; has_license = 0; field = ""; files_value = ""; license_name = ""; text_lines = 0
    }
    /^[ \t]*$/ { flush(); next }
    /^[^ \t][^:]*:/ {
        field = $0; sub(/:.*/, "", field)
        value = $0; sub(/^[^:]*:[ \t]*/, "", value)
        if (field == "Files") { has_files = 1; files_value = value }
        if (field == "License") { has_license = 1; license_name = value }
        next
    }
    /^[ \t]/ {
        if (field == "Files") { files_value = files_value " " $0 }
        # A lone " ." is an empty line of the text and counts as text only between other lines.
        if (field == "License" && $0 !~ /^[ \t]*\.[ \t]*$/) { text_lines++ }
    }
    END { flush() }
' "$copyright")

faults=()
declare -A texts=()
while read -r kind rest; do
    case "$kind" in
        files)
            for pattern in $rest; do
                # The format's patterns: "*" is any run of characters, "/" included; "?" one.
                regex=$(printf '%s' "$pattern" | sed -e 's/[].[^$\\+(){}|]/\\&/g' -e 's/\*/.*/g' -e 's/?/./g')
                if ! grep -qE "^$regex\$" <<<"$files"; then
                    faults+=("Files: $pattern matches no file of the tree")
                fi
            done
            ;;
        text)
            read -r name lines <<<"$rest"
            if [[ -n "${texts[$name]:-}" ]]; then
                faults+=("License: $name has more than one paragraph")
            fi
            texts[$name]=1
            if ((lines == 0)); then
                faults+=("License: $name has no text")
            fi
            ;;
    esac
done <<<"$summary"

# Every licence named by a Files: paragraph ("A and B", "A or B") needs its text.
while read -r kind rest; do
    [[ "$kind" == names ]] || continue
    for name in $rest; do
        [[ "$name" == and || "$name" == or ]] && continue
        [[ -n "${texts[$name]:-}" ]] || faults+=("License: $name is named but its text is missing")
    done
done <<<"$summary"

if ((${#faults[@]} > 0)); then
    for fault in "${faults[@]}"; do
        echo "$copyright: $fault" >&2
    done
    exit 1
fi
echo "$copyright: every Files: pattern matches, every licence's text is there once"
