#!/bin/sh
# Runs a test's command when the tools it needs are installed, and otherwise skips the test with
# ctest's skip code (the test sets SKIP_RETURN_CODE 77), naming what is missing and the Debian package
# that has it. VOXMOL_REQUIRE_INDEPENDENT=1 (set by CI) makes a missing tool a failure instead.
#
# usage: need.sh TOOL PACKAGE [TOOL PACKAGE]... -- COMMAND [ARGUMENT]...
# A TOOL is a program (a name looked up on the PATH, or a path), or INTERPRETER:MODULE for a Python
# module that INTERPRETER must import.
missing=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    if [ $# -lt 2 ]; then
        echo "need.sh: a tool without its package: $1" >&2
        exit 2
    fi
    tool=$1 package=$2
    shift 2
    case $tool in
        *:*)
            interpreter=${tool%:*} module=${tool##*:}
            if ! command -v "$interpreter" >/dev/null 2>&1; then
                missing="$missing
$interpreter is not installed (Debian: python3 and $package)"
            elif ! "$interpreter" -c "import $module" >/dev/null 2>&1; then
                missing="$missing
the Python module $module is not installed (Debian: $package)"
            fi
            ;;
        *)
            if ! command -v "$tool" >/dev/null 2>&1; then
                missing="$missing
$tool is not installed (Debian: $package)"
            fi
            ;;
    esac
done
if [ "${1:-}" != "--" ] || [ $# -lt 2 ]; then
    echo "usage: need.sh TOOL PACKAGE [TOOL PACKAGE]... -- COMMAND [ARGUMENT]..." >&2
    exit 2
fi
shift
if [ -n "$missing" ]; then
    if [ "${VOXMOL_REQUIRE_INDEPENDENT:-}" = 1 ]; then
        echo "$missing" | sed -e '/^$/d' -e 's/^/voxmol test failed (VOXMOL_REQUIRE_INDEPENDENT=1): /'
        exit 1
    fi
    echo "$missing" | sed -e '/^$/d' -e 's/^/voxmol test skipped: /'
    exit 77
fi
exec "$@"
