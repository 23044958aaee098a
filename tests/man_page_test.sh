#!/usr/bin/env bash
# The man page renders without a single warning, and names every option the usage text lists.
# usage: man_page_test.sh <voxmol binary> <man page>
set -euo pipefail
# A command that fails ends the test with its reason, never silently.
trap 'status=$?; echo "man_page_test.sh, line $LINENO: \"$BASH_COMMAND\" failed with status $status"' ERR
binary=$1 page=$2
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
    echo "groff warns about $page:"; echo "$warnings"; exit 1
fi
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
missing=0
for option in $("$binary" --help | grep -o -- '\[-[a-z]\|^ *-[a-z]\|--[a-z]*' | tr -d '[ ' | sort -u); do
    if ! grep -q -- "$option" <<<"$text"; then
        echo "the man page does not mention $option"; missing=1
    fi
done
exit $missing
