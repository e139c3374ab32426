# Sourced by the carving scripts of the camera-raw and archive families:
# the scan, check and damaged-copy steps they share. Expects CLI, TOOLS and W
# to be set, and the current directory to be W.

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
plant() { python3 "$TOOLS/plant_image.py" "$@" || fail "plant_image.py $*"; }

# The file lines of the carved trees in a --list output.
file_lines() { awk -F'\t' '($1 == 34 || $1 == 36) && NF >= 7 && $5 == 0'; }

# Lists and recovers IMG at sector size SS into $out ($out.list holds the
# file lines); the image must not change.
scan() {
    local img=$1 ss=$2
    out=$W/out-${img%.img}-$ss
    local before after rc
    before=$(md5sum < "$img")
    "$CLI" scan --deep-disk --sector-size "$ss" --list "$img" > "$out.stdout" 2> "$out.stderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --list exited $rc: $(tail -n 3 "$out.stderr")"
    file_lines < "$out.stdout" > "$out.list"
    rm -rf "$out"
    "$CLI" scan --deep-disk --sector-size "$ss" --recover "$out" "$img" > /dev/null 2> "$out.rstderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --recover exited $rc: $(tail -n 3 "$out.rstderr")"
    after=$(md5sum < "$img")
    [ "$before" = "$after" ] || fail "$img changed during the scan or the recovery"
    mkdir -p "$out"
}

# Runs a checker; its last line goes to the log, everything on failure.
check() {
    local what=$1
    shift
    if "$@" > "$W/check.out" 2>&1; then ok "$what: $(tail -n 1 "$W/check.out")"; else fail "$what: $(cat "$W/check.out")"; fi
}

# damaged SEED SIZE FILE...: every file cut to 300 kB with all but its first
# 512 to 2048 bytes replaced by random bytes, planted over and over into an
# image of SIZE, scanned at both sector sizes: fewer files, never a crash, a
# hang or a file larger than the image.
damaged() {
    local seed=$1 size=$2
    shift 2
    mkdir -p dmg
    python3 - "$W/dmg" "$seed" "$@" <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(int(sys.argv[2]))
for path in sys.argv[3:]:
    data = open(path, "rb").read()[:300000]
    name = os.path.join(out, "d-" + os.path.basename(path))
    cut = rng.choice([512, 1024, 2048])
    open(name, "wb").write(data[:cut] + rng.randbytes(max(0, len(data) - cut)))
PY
    plant damaged.img --align 512 --gap random:512 --repeat-to "$size" dmg/*
    local ss start took bytes bad
    for ss in 512 4096; do
        start=$(date +%s)
        scan damaged.img $ss
        took=$(( $(date +%s) - start ))
        [ "$took" -le 90 ] && ok "damaged.img at $ss: $took s" || fail "damaged.img at $ss took $took s"
        grep -q 'ERROR: \(Address\|Leak\|Undefined\)Sanitizer\|runtime error' "$out.stderr" "$out.rstderr" \
            && fail "damaged.img at $ss: sanitizer report"
        bytes=$(stat -c %s damaged.img)
        bad=$(awk -F'\t' -v size="$bytes" '$3 > size' "$out.list")
        [ -z "$bad" ] && ok "damaged.img at $ss: $(wc -l < "$out.list") files, none larger than the image" \
            || fail "damaged.img at $ss: files larger than the image: $bad"
    done
}
