# Shared by the packaging checks: failing, skipping, comparing lists; and the project's
# scripts/lib/common.sh.
# shellcheck shell=bash
# shellcheck source-path=SCRIPTDIR/../../scripts/lib
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/common.sh"

# ctest reads this exit status as "skipped" (SKIP_RETURN_CODE).
skip_status=77

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
skip() { printf 'SKIP: %s\n' "$*" >&2; exit "$skip_status"; }
need() { command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed (package $2)"; }

# Fails unless the lines of $2 equal the lines of $1, both sorted; says what differs.
same_lines() {
    local what=$1 expected=$2 actual=$3 difference
    difference=$(diff <(sort <<<"$expected") <(sort <<<"$actual")) ||
        fail "$what differs from what is expected (< expected, > actual):"$'\n'"$difference"
}

# The Debian architecture a check is about: its argument, or this machine's.
arch_or_native() { printf '%s\n' "${1:-$(dpkg --print-architecture)}"; }

# The images of the Windows icon group, "width height bits" each: Windows picks
# among them by size and by the colour depth of the display.
# shellcheck disable=SC2034 # used by the scripts that source this one
windows_icon_images='48 48 4
48 48 8
48 48 32
32 32 4
32 32 8
32 32 32
16 16 4
16 16 8
16 16 32'
