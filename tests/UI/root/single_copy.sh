#!/bin/sh
# A second copy of the program ends at once with status 0 while the first
# keeps running; the language argument is stored as the preference.
program="$1"
work=$(mktemp -d)
trap 'kill "$first" 2>/dev/null; wait "$first" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/res" "$work/cfg"
export QT_QPA_PLATFORM=offscreen VANTREL_RESOURCES="$work/res" XDG_CONFIG_HOME="$work/cfg" HOME="$work"
# A copy that a person or another test started would make the first copy here
# the second: wait for it to end, or skip.
another_copy_runs() {
    for comm in /proc/[0-9]*/comm; do
        [ "$(cat "$comm" 2>/dev/null)" = "Vantrel Data Re" ] && return 0
    done
    return 1
}
i=0
while another_copy_runs; do
    [ $i -lt 200 ] || { echo "skipped: another copy of the program keeps running on this machine"; exit 77; }
    sleep 0.1; i=$((i + 1))
done
"$program" fr > "$work/first.out" 2>&1 &
first=$!
# Wait until the first copy has stored its language (its windows come next).
i=0
while [ $i -lt 100 ] && ! grep -qs "AppleLanguages=fr" "$work/cfg/Vantrel/"*.ini; do
    sleep 0.1; i=$((i + 1))
done
grep -qs "AppleLanguages=fr" "$work/cfg/Vantrel/"*.ini || { echo "language not stored"; cat "$work/first.out"; exit 1; }
grep -q "argv = fr" "$work/first.out" || sleep 1
[ "$(cat /proc/$first/comm)" = "Vantrel Data Re" ] || { echo "unexpected name: $(cat /proc/$first/comm)"; exit 1; }
timeout 20 "$program" de > "$work/second.out" 2>&1
status=$?
[ $status -eq 0 ] || { echo "second copy ended with $status"; cat "$work/second.out"; exit 1; }
kill -0 "$first" || { echo "first copy is gone"; exit 1; }
exit 0
