# Shared by carve_movies.sh and carve_mp3s.sh (sourced, after CLI, R and W
# are set): the pass/fail counters, planting, and the scan of one image.
TOOLS=$R/tests/tools
source "$R/tests/RAWSearch/carve_steps.sh"

# scan IMG SS OUT: --list into OUT.stdout and OUT.list (file lines only),
# --recover into OUT; the image must not change.
scan() { carve_scan "$@"; }

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
