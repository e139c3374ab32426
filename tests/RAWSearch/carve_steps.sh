# The steps every end-to-end carving script shares: pass/fail counters,
# planting, listing and recovering an image, and running a checker.
# Sourced with CLI, TOOLS and W set and W as the current folder.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

plant() { python3 "$TOOLS/plant_image.py" "$@" || fail "plant_image.py $*"; }

# The file lines of the carved trees in a --list output.
file_lines() { awk -F'\t' '($1 == 34 || $1 == 36) && NF >= 7 && $5 == 0'; }

# Lists IMG at sector size SS, then recovers it into OUT; the image must not
# change in either run. OUT.list holds the listing's file lines. With
# CARVE_LIST_ONLY set only the listing runs: the damaged-copy images give
# thousands of overlapping candidates that together run to many gigabytes,
# more than a test machine's disk may hold.
#   carve_scan IMG SS OUT [more scan options]
carve_scan() {
    local img=$1 ss=$2 out=$3
    shift 3
    local before after rc
    before=$(md5sum < "$img")
    "$CLI" scan --deep-disk --sector-size "$ss" "$@" --list "$img" > "$out.stdout" 2> "$out.stderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --list exited $rc: $(tail -n 3 "$out.stderr")"
    file_lines < "$out.stdout" > "$out.list"
    after=$(md5sum < "$img")
    [ "$before" = "$after" ] || fail "$img changed during the scan"
    rm -rf "$out"
    if [ -n "${CARVE_LIST_ONLY:-}" ]; then
        : > "$out.rstderr"
        mkdir -p "$out"
        return
    fi
    "$CLI" scan --deep-disk --sector-size "$ss" "$@" --recover "$out" "$img" > /dev/null 2> "$out.rstderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --recover exited $rc: $(tail -n 3 "$out.rstderr")"
    after=$(md5sum < "$img")
    [ "$before" = "$after" ] || fail "$img changed during the recovery"
    mkdir -p "$out"
}

# Runs a checker; its last line goes to the log, everything on failure.
#   check WHAT COMMAND...
check() {
    local what=$1
    shift
    if "$@" > "$W/check.out" 2>&1; then ok "$what: $(tail -n 1 "$W/check.out")"; else fail "$what: $(cat "$W/check.out")"; fi
}
