#!/usr/bin/env bash
# Usage errors of vantrel-cli: exit status 2 with a message naming the
# offending option; subcommands not in this build exit 3 with one line.
set -uo pipefail
CLI=$1
MAKE_SAMPLE=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$MAKE_SAMPLE" "$work" >/dev/null || { echo "cannot make the sample"; exit 1; }
IMG=$work/sample.img
failures=0

# expect STATUS "TEXT-IN-STDERR" ARGS...
expect() {
    local want=$1 text=$2; shift 2
    "$CLI" "$@" >"$work/out" 2>"$work/err"
    local rc=$?
    if [ "$rc" -ne "$want" ]; then
        echo "FAIL: vantrel-cli $* exited $rc, expected $want"; cat "$work/err"; failures=$((failures + 1)); return
    fi
    if [ -n "$text" ] && ! grep -qF -- "$text" "$work/err"; then
        echo "FAIL: vantrel-cli $*: stderr lacks '$text'"; cat "$work/err"; failures=$((failures + 1)); return
    fi
    echo "ok: vantrel-cli $* -> $rc"
}

expect 2 "usage:"
expect 2 "unknown subcommand" frobnicate
expect 2 "--volume" scan --quick --volume 1 --offset 2048 "$IMG"
expect 2 "--offset" scan --quick --volume 1 --offset 2048 "$IMG"
expect 2 "--sector-size" scan --quick --sector-size 1000 "$IMG"
expect 2 "--types" scan --deep --types 128 "$IMG"
expect 2 "--types" scan --deep --types -1 "$IMG"
expect 2 "--deep-disk" scan --deep-disk --volume 1 "$IMG"
expect 2 "only one of" scan --quick --deep "$IMG"
expect 2 "needs one of" scan "$IMG"
expect 2 "missing SOURCE" scan --quick
expect 2 "unknown option '--bogus'" parts --bogus "$IMG"
expect 2 "missing SOURCE SECTOR COUNT" read "$IMG" 0
expect 2 "missing FILE SOURCE" load only-one

# Subcommands not yet in this build say so in exactly one line.
for args in "devices" "parts $IMG" "read $IMG 0 1" "scan --quick --volume 1 $IMG" "load $work/none.rsf $IMG"; do
    # shellcheck disable=SC2086
    "$CLI" $args >"$work/out" 2>"$work/err"
    rc=$?
    name=${args%% *}
    if [ "$rc" -eq 3 ]; then
        if [ "$(cat "$work/err")" != "vantrel-cli: $name: not available in this build" ] || [ -s "$work/out" ]; then
            echo "FAIL: $name: not-available message is not the one line"; cat "$work/err"; failures=$((failures + 1))
        else
            echo "ok: $name not available in this build"
        fi
    fi
done

echo "$failures failed"
[ "$failures" -eq 0 ]
