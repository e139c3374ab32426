#!/bin/sh
# With no pkexec on PATH, the launcher started on a display shows a window
# with the reason, waits until it is closed and ends with a non-zero status.
# The window's picture is written to OUT (default: a temporary folder).
#   failure_window.sh LAUNCHER [OUT]
set -u
. "$(dirname "$0")/display.sh"
launcher=$(readlink -f "$1")
out=${2:-}
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
[ -d "$work" ] || exit 1
[ -n "$out" ] || out=$work/out
mkdir -p "$out" "$work/bin" "$work/data" "$work/home"
xvfb=
app=
trap '[ -n "$app" ] && kill "$app" 2>/dev/null; [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/err" ] && sed 's/^/  stderr: /' "$work/err"; exit 1; }

start_display "$work" 800x600x24

# PATH holds no pkexec: the only one the launcher looks for.
env -i PATH="$work/bin" DISPLAY="$display" HOME="$work/home" LANG=C VANTREL_WORK_DIR="$work/data" \
    "$launcher" 2> "$work/err" &
app=$!
window=
i=0
while [ $i -lt 150 ] && [ -z "$window" ]; do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name "^Vantrel Data Recovery$" 2>/dev/null | head -n 1)
    [ -n "$window" ] || { sleep 0.1; i=$((i + 1)); }
done
[ -n "$window" ] || fail "no window appeared"
sleep 1  # let it paint
DISPLAY=$display import -window root "$out/launcher-no-pkexec.png" || fail "no picture taken"
kill -0 "$app" 2>/dev/null || fail "the launcher did not wait for its window to be closed"
grep -q "pkexec is not installed" "$work/err" || fail "the reason is not given"

# Close it as a person would: the window's default button.
DISPLAY=$display xdotool windowfocus --sync "$window" key Return
i=0
while [ $i -lt 100 ] && kill -0 "$app" 2>/dev/null; do sleep 0.1; i=$((i + 1)); done
kill -0 "$app" 2>/dev/null && fail "the window did not close"
wait "$app"
status=$?
app=
[ $status -ne 0 ] || fail "the launcher ended with 0"
echo "ok: picture in $out/launcher-no-pkexec.png"
