# Shared by the end-to-end carving scripts: sourced after "set -uo pipefail"
# with the script's two arguments, VANTREL_CLI and SOURCE_DIR.
# Sets CLI, R (the source tree), TOOLS and W (a work folder removed on exit,
# also the current folder), and brings in the shared steps.
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
TOOLS=$R/tests/tools
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
source "$R/tests/RAWSearch/carve_steps.sh"
