#!/usr/bin/env bash
# Runs a test program with a small file system of its own: a 4 MB tmpfs in a mount namespace of
# its own, its path in ORV_SMALL_DISK. The program's cases fill it to the last byte while the
# program writes its files there (they skip without ORV_SMALL_DISK). 4 MB: once the filler is gone
# the station's disk has the 1 MB it keeps free for the outcomes to come.
# Needs root and unshare(1); skips (exit 77) elsewhere.
# Usage: small_disk_run.sh PROGRAM [ARGUMENTS...]
set -euo pipefail

PROGRAM=${1:?usage: small_disk_run.sh PROGRAM [ARGUMENTS...]}
if [[ -z ${ORV_SMALL_DISK_NS:-} ]]; then
    if [[ $EUID -ne 0 ]] || ! command -v unshare >/dev/null || ! unshare -m true 2>/dev/null; then
        echo "SKIP: a small disk of the test's own needs root and a mount namespace of its own"
        exit 77
    fi
    # The tmpfs is seen in this namespace only, and goes with it however the test ends.
    ORV_SMALL_DISK_NS=1 exec unshare -m --propagation private "$0" "$@"
fi

WORK=$(mktemp -d /tmp/orv-small-disk-XXXXXX)
mkdir -p "$WORK/small"
mount -t tmpfs -o size=4m tmpfs "$WORK/small"
cleanup() {
    umount "$WORK/small" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
export ORV_SMALL_DISK="$WORK/small"
shift
"$PROGRAM" "$@"
