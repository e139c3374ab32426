# Shared by carve_movies.sh and carve_mp3s.sh (sourced, after CLI, R and W
# are set): the pass/fail counters, planting, and the scan of one image.
TOOLS=$R/tests/tools
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
plant() { python3 "$TOOLS/plant_image.py" "$@" > /dev/null || fail "plant_image.py $*"; }

file_lines() { awk -F'\t' '($1 == 34 || $1 == 36) && NF >= 7 && $5 == 0'; }

# scan IMG SS OUT: --list into OUT.stdout and OUT.list (file lines only),
# --recover into OUT; the image must not change.
scan() {
    local img=$1 ss=$2 out=$3 before after rc
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

# An image cut SIZE bytes into the copy of NAME planted in FROM.img: what is
# carved of it at both sector sizes is a start of it.
check_cut() {
    local from=$1 name=$2 size=$3 offset out ss
    cp --sparse=always "$from" cut.img
    offset=$(awk -F'\t' -v n="/$name" 'substr($5, length($5) - length(n) + 1) == n { print $1 }' "$from.manifest")
    truncate -s $((offset + size)) cut.img
    awk -F'\t' -v n="/$name" 'substr($5, length($5) - length(n) + 1) == n' "$from.manifest" > cut.img.manifest
    for ss in 512 4096; do
        out=$W/out-cut-$ss
        scan cut.img $ss "$out"
        python3 "$TOOLS/check_carve.py" cut.img "$out" --prefix --allow-extra > "$out.check" \
            && ok "cut.img at $ss: $(head -n 1 "$out.check")" || fail "cut.img at $ss: $(cat "$out.check")"
    done
}
