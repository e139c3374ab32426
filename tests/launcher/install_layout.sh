#!/bin/sh
# cmake --install into a scratch prefix lays out a desktop application, and
# the installed program finds its resources from its own place (no
# environment variable names them) and writes nothing below the prefix.
#   install_layout.sh BUILD_DIR SOURCE_DIR [OUT]
set -u
. "$(dirname "$0")/display.sh"
build=$1
source=$2
out=${3:-}
work=$(mktemp -d)
[ -d "$work" ] || exit 1
[ -n "$out" ] || out=$work/out
T=$work/prefix
mkdir -p "$out" "$work/home"
xvfb=
app=
trap '[ -n "$app" ] && kill $(pgrep -P "$app") "$app" 2>/dev/null; [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$T" > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install failed"; }

share=$T/share/vantrel-data-recovery
for f in bin/vantrel-data-recovery bin/vantrel-loader bin/vantrel-cli \
         share/vantrel-data-recovery/LocalVersionMessage.plist \
         share/vantrel-data-recovery/en.lproj/Localizable.strings \
         share/vantrel-data-recovery/images/start_normal.png \
         share/applications/vantrel-data-recovery.desktop \
         share/icons/hicolor/scalable/apps/vantrel-data-recovery.svg \
         share/icons/hicolor/48x48/apps/vantrel-data-recovery.png \
         share/icons/hicolor/128x128/apps/vantrel-data-recovery.png \
         share/icons/hicolor/256x256/apps/vantrel-data-recovery.png \
         share/polkit-1/actions/org.vantrel.data-recovery.policy; do
    [ -f "$T/$f" ] || fail "missing $f"
done
for f in vantrel-data-recovery vantrel-loader vantrel-cli; do
    [ -x "$T/bin/$f" ] || fail "bin/$f is not executable"
    if ldd "$T/bin/$f" | grep -q "not found"; then fail "bin/$f lacks libraries: $(ldd "$T/bin/$f" | grep 'not found')"; fi
done
if [ -f "$source/tools/vantrel-cli/vantrel-cli.1" ]; then
    [ -f "$T/share/man/man1/vantrel-cli.1" ] || fail "missing share/man/man1/vantrel-cli.1"
fi
# Nothing of the build tree comes along.
if find "$T" -name '*.py' -o -name '*.in' -o -name CMakeLists.txt | grep -q .; then fail "build files installed"; fi

desktop=$T/share/applications/vantrel-data-recovery.desktop
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" > "$work/validate.log" 2>&1 || { cat "$work/validate.log"; fail "desktop entry invalid"; }
else
    echo "note: desktop-file-validate is not installed; desktop entry not validated"
fi
grep -qx "Exec=vantrel-loader" "$desktop" || fail "the desktop entry does not start the launcher"
grep -qx "Categories=System;Utility;" "$desktop" || fail "categories"
grep -qx "Icon=vantrel-data-recovery" "$desktop" || fail "icon"

policy=$T/share/polkit-1/actions/org.vantrel.data-recovery.policy
if command -v xmllint >/dev/null 2>&1; then
    xmllint --noout "$policy" || fail "the policy does not parse"
else
    echo "note: xmllint is not installed; policy not parsed"
fi
grep -q ">$T/bin/vantrel-data-recovery</annotate>" "$policy" || fail "the policy does not name the installed program"
grep -q 'key="org.freedesktop.policykit.exec.allow_gui">true<' "$policy" || fail "allow_gui"
grep -q "<allow_active>auth_admin_keep</allow_active>" "$policy" || fail "auth_admin_keep"
grep -q "<message>..*</message>" "$policy" || fail "no message"

# The installed program on a display, with nothing but its own place to go by.
for tool in Xvfb import strace; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed (layout checked)"; exit 77; }
done
start_display "$work" 1280x900x24

snapshot() { find "$T" -exec stat -c '%n %s %Y %a' {} + | sort; }
snapshot > "$work/before"
env -i PATH=/usr/bin:/bin DISPLAY="$display" HOME="$work/home" LANG=C \
    strace -f -qq -e trace=openat -o "$work/trace" "$T/bin/vantrel-data-recovery" en > "$work/out.log" 2>&1 &
app=$!
# The file-type page is up once its pictures are read.
i=0
while [ $i -lt 300 ] && ! grep -q "$share/images/icon_graphics_normal.png" "$work/trace" 2>/dev/null; do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1; i=$((i + 1))
done
if ! kill -0 "$app" 2>/dev/null; then
    wait "$app"; status=$?; app=
    if [ $status -eq 0 ] && pgrep -x "Vantrel Data Re" >/dev/null; then
        echo "SKIP: another copy of the program runs on this machine (layout checked)"; exit 77
    fi
    cat "$work/out.log"; fail "the program ended with $status"
fi
sleep 2  # let it paint
DISPLAY=$display import -window root "$out/installed-file-type-page.png" || fail "no picture taken"
# strace leaves its tracee running when it is told to end: end the program.
kill $(pgrep -P "$app") 2>/dev/null
i=0
while [ $i -lt 100 ] && kill -0 "$app" 2>/dev/null; do sleep 0.1; i=$((i + 1)); done
kill -9 "$app" 2>/dev/null
wait "$app" 2>/dev/null; app=
grep -q "$share/en.lproj/Localizable.strings" "$work/trace" || fail "the texts were not read from $share"
grep -q "$share/images/icon_graphics_normal.png" "$work/trace" || fail "the pictures were not read from $share"
grep -q "$share/LocalVersionMessage.plist" "$work/trace" || fail "the settings were not read from $share"
snapshot > "$work/after"
cmp -s "$work/before" "$work/after" || { diff "$work/before" "$work/after"; fail "the program wrote below the prefix"; }
[ -d "$work/home/.local/share/vantrel-data-recovery" ] || fail "the work folder was not made in the user's data folder"
echo "ok: picture in $out/installed-file-type-page.png"
