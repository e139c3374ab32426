#!/bin/sh
# The launcher and pkexec, with a stand-in pkexec first on PATH that records
# its arguments, checks that its parent is the launcher and runs the rest as
# pkexec would once authorised.
#   pkexec_standin.sh LAUNCHER PROGRAM
set -u
launcher=$(readlink -f "$1")
program=$(readlink -f "$2")
work=$(mktemp -d)
[ -d "$work" ] || exit 1
# The copies of the program that carry this test's work folder.
ours() {
    for p in $(pgrep -x "Vantrel Data Re"); do
        if tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qx "VANTREL_WORK_DIR=$work/data"; then
            echo "$p"
        fi
    done
}
trap 'kill $(ours) 2>/dev/null; chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/err" ] && sed 's/^/  stderr: /' "$work/err"; exit 1; }

mkdir -p "$work/bin" "$work/data" "$work/home"
# The stand-in ends as pkexec does when $work/pkexec-status names a status
# (126: the password dialog was dismissed, 127: refused), else it execs the
# command it was given.
{
    echo '#!/bin/sh'
    echo "work='$work'"
    echo 'printf "%s\n" "$@" > "$work/args"'
    echo 'readlink "/proc/$PPID/exe" > "$work/parent"'
    echo 'if [ -f "$work/pkexec-status" ]; then'
    echo '    echo "Error executing command as another user: Not authorized" >&2'
    echo '    exit "$(cat "$work/pkexec-status")"'
    echo 'fi'
    echo 'exec "$@"'
} > "$work/bin/pkexec"
chmod +x "$work/bin/pkexec"

run() {  # the launcher with a clean, known environment
    env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" LANG=C VANTREL_WORK_DIR="$work/data" "$@"
}

# 1. The build tree: the program CMake built is the one started, with the
# display variables and the language code; the launcher waits for it and
# ends with its status (here that of a signal the test sends it).
run DISPLAY=:42 XAUTHORITY="$work/xauth" QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/cfg" \
    "$launcher" 2> "$work/err" &
pid=$!
child=
i=0
while [ $i -lt 150 ]; do
    child=$(ours | head -n 1)
    [ -n "$child" ] && break
    sleep 0.1; i=$((i + 1))
done
if [ -z "$child" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    # A copy started by someone else on this machine makes ours end at once.
    if [ $status -eq 0 ] && pgrep -x "Vantrel Data Re" >/dev/null; then
        echo "SKIP: another copy of the program runs on this machine"; exit 77
    fi
    fail "the program was not started (launcher ended with $status)"
fi
[ "$(readlink "/proc/$child/exe")" = "$program" ] || fail "started $(readlink "/proc/$child/exe")"
[ "$(cat "$work/parent")" = "$launcher" ] || fail "pkexec's parent was $(cat "$work/parent")"
parent=$(awk '/^PPid:/ {print $2}' "/proc/$child/status")
[ "$(readlink "/proc/$parent/exe")" = "$launcher" ] || fail "the launcher does not wait for the program"
sleep 0.5
kill -TERM "$child"
wait "$pid"
status=$?
[ $status -eq 143 ] || fail "launcher ended with $status, the program with 143"
expected=$(printf '%s\n' /usr/bin/env DISPLAY=:42 "XAUTHORITY=$work/xauth" QT_QPA_PLATFORM=offscreen \
    "VANTREL_WORK_DIR=$work/data" "$program" en)
[ "$(cat "$work/args")" = "$expected" ] || fail "pkexec was given: $(cat "$work/args")"

# 2. The installed layout: the program beside the launcher, the language
# found through the resources' settings and remembered in the work folder,
# the program's own exit status passed on, nothing written into the layout.
# (The program of case 1 left its settings there, the language among them.)
rm -rf "$work/data" && mkdir "$work/data"
inst=$work/inst
mkdir -p "$inst/bin" "$inst/share/vantrel-data-recovery"
cp "$launcher" "$inst/bin/vantrel-loader"
{
    echo '#!/bin/sh'
    echo "printf '%s\n' \"\$@\" > '$work/program-args'"
    echo 'exit 7'
} > "$inst/bin/vantrel-data-recovery"
chmod +x "$inst/bin/vantrel-data-recovery"
printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' '<plist version="1.0"><dict>' \
    '<key>SupportLanguage</key><dict><key>English</key><string>en</string><key>French</key><string>fr</string></dict>' \
    '<key>VersionCheck</key><integer>3</integer>' '</dict></plist>' \
    > "$inst/share/vantrel-data-recovery/LocalVersionMessage.plist"
chmod -R a-w "$inst"
before=$(find "$inst" -exec stat -c '%n %s %Y' {} + | sort | md5sum)
run DISPLAY=:7 LANGUAGE=fr_FR "$inst/bin/vantrel-loader" 2> "$work/err"
status=$?
[ $status -eq 7 ] || fail "launcher ended with $status, the program with 7"
[ "$(cat "$work/parent")" = "$inst/bin/vantrel-loader" ] || fail "pkexec's parent was $(cat "$work/parent")"
grep -qx "$inst/bin/vantrel-data-recovery" "$work/args" || fail "pkexec was given: $(cat "$work/args")"
grep -qx "DISPLAY=:7" "$work/args" || fail "DISPLAY not passed: $(cat "$work/args")"
grep -qx "XAUTHORITY=$work/home/.Xauthority" "$work/args" || fail "XAUTHORITY not named: $(cat "$work/args")"
[ "$(cat "$work/program-args")" = "fr" ] || fail "the program was given: $(cat "$work/program-args")"
grep -q "<string>French</string>" "$work/data/LocalVersionMessage.plist" || fail "the choice was not remembered"
grep -q "<integer>3</integer>" "$work/data/LocalVersionMessage.plist" || fail "the other settings were lost"
after=$(find "$inst" -exec stat -c '%n %s %Y' {} + | sort | md5sum)
[ "$before" = "$after" ] || fail "the launcher wrote into the installed layout"

# 3. The password dialog dismissed: nothing started, status 0, no message.
rm -f "$work/program-args"
echo 126 > "$work/pkexec-status"
run "$inst/bin/vantrel-loader" 2> "$work/err"
status=$?
[ $status -eq 0 ] || fail "a dismissed dialog ended with $status"
[ ! -e "$work/program-args" ] || fail "the program was started"
if grep -q "not started" "$work/err"; then fail "a dismissed dialog was reported"; fi

# 4. Refused: nothing started, a non-zero status, pkexec's reason and a way out.
echo 127 > "$work/pkexec-status"
run "$inst/bin/vantrel-loader" 2> "$work/err"
status=$?
[ $status -eq 127 ] || fail "a refusal ended with $status"
[ ! -e "$work/program-args" ] || fail "the program was started"
grep -q "pkexec said: Error executing command as another user: Not authorized" "$work/err" || fail "no reason given"
grep -q "sudo $inst/bin/vantrel-data-recovery" "$work/err" || fail "no way out named"

# 5. No pkexec on PATH: a non-zero status and the reason.
rm "$work/bin/pkexec"
env -i PATH="$work/bin" HOME="$work/home" VANTREL_WORK_DIR="$work/data" "$inst/bin/vantrel-loader" 2> "$work/err"
status=$?
[ $status -ne 0 ] || fail "a missing pkexec ended with 0"
grep -q "pkexec is not installed" "$work/err" || fail "no reason given"
[ ! -e "$work/program-args" ] || fail "the program was started"
echo "ok"
