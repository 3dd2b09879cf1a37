#!/usr/bin/env bash
# Makes `apt-get source` work: adds the deb-src twin of Debian's own archive entry when there is none.
set -euo pipefail
if grep -rqs -E '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    exit 0
fi
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
"${sudo_cmd[@]}" apt-get update -qq
