#!/usr/bin/env bash
# The layering check on a small tree: each kind of breach (a header of the
# windows by name or by path, a Qt header, a link to Qt or to a library of
# the windows, direct or through another library) is found and named; a name
# that the engine and the windows both have, and the windows' own includes,
# are not breaches; the tree without the breaches passes.
set -euo pipefail
check=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$tmp"/{include,StorageDevice,Utility,tools/vantrel-cli,UI/Bridge/Engine}
echo '#pragma once' >"$tmp/include/IStorageDevice.h"
echo '#pragma once' >"$tmp/UI/Bridge/Engine/ZRUIScan.h"
echo '#pragma once' >"$tmp/UI/Bridge/Engine/IStorageDevice.h"   # also an engine name
printf '#include "ZRUIScan.h"\n#include <QString>\n' >"$tmp/UI/Bridge/Engine/ZRUIScan.cpp"
printf '#include "IStorageDevice.h"\n#include <vector>\n' >"$tmp/StorageDevice/Clean.cpp"

cat >"$tmp/targets.txt" <<'EOF'
vantrel_storage_device	STATIC_LIBRARY	StorageDevice	vantrel_utility
vantrel_utility	STATIC_LIBRARY	Utility	Threads::Threads
vantrel_bridge_engine	STATIC_LIBRARY	UI/Bridge/Engine	vantrel_utility;Qt6::Core
vantrel_cli	STATIC_LIBRARY	tools/vantrel-cli	vantrel_storage_device
EOF

run() { python3 "$check" --source "$tmp" --ui-folders UI,tests/UI --targets "$tmp/targets.txt" >"$tmp/out" 2>&1; }

run || { cat "$tmp/out"; fail "a clean tree is refused"; }

# One breach of each kind.
printf '\n#include "ZRUIScan.h"\n' >>"$tmp/StorageDevice/Clean.cpp"
printf '  #  include "../UI/Bridge/Engine/ZRUIScan.h"\n' >"$tmp/StorageDevice/ByPath.cpp"
printf '#include <QtCore/QString>\n#include <QObject>\n' >"$tmp/Utility/Qt.h"
sed -i 's/^vantrel_utility\tSTATIC_LIBRARY\tUtility\tThreads::Threads$/vantrel_utility\tSTATIC_LIBRARY\tUtility\tThreads::Threads;$<LINK_ONLY:Qt6::Core>/' \
    "$tmp/targets.txt"
sed -i 's/^vantrel_cli\t\(.*\)vantrel_storage_device$/vantrel_cli\t\1vantrel_storage_device;vantrel_bridge_engine/' "$tmp/targets.txt"

if run; then cat "$tmp/out"; fail "the breaches pass"; fi
cat "$tmp/out"
expect() { grep -qF -- "$1" "$tmp/out" || fail "not reported: $1"; }
expect 'StorageDevice/Clean.cpp:4: #include "ZRUIScan.h": a header of the windows'
expect 'StorageDevice/ByPath.cpp:1: #include "../UI/Bridge/Engine/ZRUIScan.h": a path into the windows'
expect 'Utility/Qt.h:1: #include <QtCore/QString>: a Qt header'
expect 'Utility/Qt.h:2: #include <QObject>: a Qt header'
expect 'vantrel_utility (Utility) links Qt: vantrel_utility -> Qt6::Core'
expect 'vantrel_storage_device (StorageDevice) links Qt: vantrel_storage_device -> vantrel_utility -> Qt6::Core'
expect 'vantrel_cli (tools/vantrel-cli) links'
grep -q 'IStorageDevice.h' "$tmp/out" && fail "a name the engine has too is reported"
grep -q '^UI/' "$tmp/out" && fail "the windows' own includes are reported"
grep -q 'vantrel_bridge_engine (' "$tmp/out" && fail "a library of the windows is reported"
echo "ok"
