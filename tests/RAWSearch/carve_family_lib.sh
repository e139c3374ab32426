# Sourced by the carving scripts of the camera-raw and archive families:
# the scan, check and damaged-copy steps they share. Expects CLI, TOOLS and W
# to be set, and the current directory to be W.

source "$(dirname "${BASH_SOURCE[0]}")/carve_steps.sh"

# Lists and recovers IMG at sector size SS into $out ($out.list holds the
# file lines); the image must not change.
scan() {
    local img=$1 ss=$2
    out=$W/out-${img%.img}-$ss
    carve_scan "$img" "$ss" "$out"
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
        CARVE_LIST_ONLY=1 scan damaged.img $ss
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
