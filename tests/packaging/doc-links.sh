#!/usr/bin/env bash
# Every relative link and picture of the documentation leads to a file that exists and,
# with a #fragment, to one of that page's headings.
#   doc-links.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

# The anchors of a page's headings, as GitHub makes them.
anchors() {
    sed -n 's/^#\{1,6\} \{1,\}//p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^[:alnum:] _-]//g; s/ /-/g'
}

# The targets of a page's links and pictures that name no scheme, titles left off.
relative_targets() {
    grep -oE '\]\([^)]+\)' "$1" | sed 's/^](//; s/)$//; s/ .*//' | grep -vE '^[a-z]+:' || true
}

cd "$1"
shopt -s nullglob
broken=()
for page in README.md docs/*.md BENCHMARKS.md; do
    while read -r target; do
        file=${target%%#*}
        fragment=${target#"$file"}
        path=$page
        [ -z "$file" ] || path=$(dirname "$page")/$file
        if [ ! -e "$path" ] || { [ -n "$fragment" ] && ! anchors "$path" | grep -qxF "${fragment#\#}"; }; then
            broken+=("$page: $target")
        fi
    done < <(relative_targets "$page")
done
[ ${#broken[@]} -eq 0 ] || fail "broken links or pictures:"$'\n'"$(printf '%s\n' "${broken[@]}")"
echo "every relative link and picture resolves"
