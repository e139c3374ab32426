# Sourced by the launcher's window tests: start_display WORK GEOMETRY starts
# an Xvfb of its own on a free display number (Xvfb picks it) and sets
# $display and $xvfb; it ends the test as skipped when Xvfb cannot start.
start_display() {
    Xvfb -displayfd 3 -screen 0 "$2" -nolisten tcp 3> "$1/display" 2> "$1/xvfb.log" &
    xvfb=$!
    _i=0
    while [ $_i -lt 100 ] && [ ! -s "$1/display" ]; do sleep 0.1; _i=$((_i + 1)); done
    [ -s "$1/display" ] || { echo "SKIP: Xvfb did not start: $(cat "$1/xvfb.log")"; exit 77; }
    display=:$(cat "$1/display")
}
