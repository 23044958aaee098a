#!/usr/bin/env bash
# The README's quick start: each verb does all its own set-up on a Debian or Ubuntu machine, as root or
# through sudo, installing with apt-get only the packages that are missing (--no-install-recommends).
#
#   ./quickstart.sh example    install what the converter needs to build, build the converter alone
#                              (build/converter) and convert the bundled example grid
#   ./quickstart.sh test       install what the tests need, build everything (build/default) and run
#                              every test: `cmake --workflow --preset default`, ending with ctest's summary
#   ./quickstart.sh packages   print the package lists below, installing nothing
#   ./quickstart.sh install PACKAGE...   install those of the packages that are missing (for .ci/run)
#
# .ci/run calls the same two verbs. The lists below are the one place to name a package: a new build
# dependency of the converter goes into CONVERTER_PACKAGES, a tool a new test runs goes into TEST_TOOLS
# beside the test's name.
set -euo pipefail
cd "$(dirname "$0")"

# What the converter (the library and the voxmol executable) needs to build.
CONVERTER_PACKAGES=(cmake ninja-build g++ zlib1g-dev libbz2-dev liblzma-dev)

# What building the tests needs on top: GoogleTest, and pybind11 and Python's headers for the Python
# module that the default preset builds.
TEST_BUILD_PACKAGES=(libgtest-dev pybind11-dev python3-dev)

# The tools each test runs, as pairs: an extended regular expression for the test's name (as
# `ctest -N` lists it), then the Debian packages. A test's packages are installed only when a test of
# that name exists; a test whose tool is missing is skipped (tests/tools/need.sh). The heavy tools
# (python3-ase and the like) belong here, never in the lists above, so that the example never waits
# for them.
TEST_TOOLS=(
    '^Docs\.ManPage$'               'groff-base'
    '^Python\.'                     'python3-numpy python3-pytest python3-gemmi python3-griddataformats python3-mrcfile python3-scipy'
    '^Python\.install$'             'mypy python3-venv python3-pip python3-setuptools python3-wheel'
    '^Independent\.'                'python3'
    '^Independent\.PdbReadback$'    'python3-gemmi'
    '^Independent\.OpenDX$'         'python3-numpy python3-griddataformats'
    '^Independent\.CCP4$'           'python3-numpy python3-gemmi python3-mrcfile python3-griddataformats'
    '^Independent\.CubeAutoDock$'   'python3-numpy python3-ase'
    '^Independent\.Points$'         'python3-numpy python3-gemmi python3-scipy'
    '^Independent\.PyMOL$'          'python3-numpy pymol'
    '^Independent\.CellMaps$'       'python3-numpy python3-cctbx pymol'
    '^Independent\.PotentialGrids$' 'python3-numpy pymol python3-griddataformats apbs dxsamples'
    '^Faults\.'                     'python3'
)

# The example the first verb converts, and the window it keeps (the points above 1 kT/e).
EXAMPLE=(examples/ubiquitin-potential.dx.gz -t 1 1000)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "Installing packages needs root: run this as root, or install sudo." >&2
        exit 1
    fi
}

installed() {  # package
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

apt_updated=no
apt_update() {
    if [ "$apt_updated" = no ]; then
        as_root apt-get update -q
        apt_updated=yes
    fi
}

# Prints what `what` needs, then installs the packages of that list that are missing. With
# `optional`, a package this machine's package sources do not have is left out with a message (the
# tests that run it are then skipped) instead of failing the install.
install_packages() {  # what required|optional package...
    local what=$1 kind=$2
    shift 2
    local wanted=() missing=() p
    for p in "$@"; do
        [[ " ${wanted[*]} " == *" $p "* ]] || wanted+=("$p")
    done
    echo "== For ${what}, these Debian packages are needed: ${wanted[*]}"
    for p in "${wanted[@]}"; do
        installed "$p" || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "   all of them are installed"
        return
    fi
    apt_update
    if [ "$kind" = optional ]; then
        local available=()
        for p in "${missing[@]}"; do
            if [ -n "$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: *//p' | grep -v '(none)')" ]; then
                available+=("$p")
            else
                echo "   $p is not in this machine's package sources: the tests that need it are skipped"
            fi
        done
        missing=(${available[@]+"${available[@]}"})
        [ ${#missing[@]} -gt 0 ] || return 0
    fi
    echo "   installing the missing ones: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The packages of TEST_TOOLS whose test name matches one of the names read from standard input.
tools_for_tests() {
    local names i
    names=$(cat)
    for ((i = 0; i < ${#TEST_TOOLS[@]}; i += 2)); do
        if grep -Eq -- "${TEST_TOOLS[i]}" <<<"$names"; then
            echo "${TEST_TOOLS[i + 1]}"
        fi
    done
}

example() {
    install_packages "building the converter" required "${CONVERTER_PACKAGES[@]}"
    echo "== Building the converter (build/converter)"
    cmake --preset converter >/dev/null
    cmake --build --preset converter
    echo "== Converting the example: voxmol ${EXAMPLE[*]}"
    build/converter/voxmol "${EXAMPLE[@]}"
    local output=${EXAMPLE[0]%.*}.pdb
    echo "== $(grep -c '^ATOM' "$output") points written to $output"
}

test_all() {
    install_packages "building the tests" required "${CONVERTER_PACKAGES[@]}" "${TEST_BUILD_PACKAGES[@]}"
    echo "== Configuring the test build (build/default) to list its tests"
    cmake --preset default >/dev/null
    local tools
    # shellcheck disable=SC2207  # the lists hold plain package names
    tools=($(ctest --preset default -N | sed -n 's/^ *Test *#[0-9]*: *//p' | tools_for_tests))
    if [ ${#tools[@]} -gt 0 ]; then
        install_packages "running the tests" optional "${tools[@]}"
    fi
    echo "== Building and running every test: cmake --workflow --preset default"
    local status=0
    cmake --workflow --preset default || status=$?
    # A skipped test says why in its own output, which ctest keeps in its log only.
    local log=build/default/Testing/Temporary/LastTest.log
    if [ -f "$log" ] && grep -q '^voxmol test skipped: ' "$log"; then
        echo "== Why tests were skipped:"
        grep '^voxmol test skipped: ' "$log" | sort -u
    fi
    return $status
}

packages() {
    echo "The converter:      ${CONVERTER_PACKAGES[*]}"
    echo "Building the tests: ${TEST_BUILD_PACKAGES[*]}"
    echo "Tools, by test name (installed when such a test exists):"
    local i
    for ((i = 0; i < ${#TEST_TOOLS[@]}; i += 2)); do
        printf '  %-30s %s\n' "${TEST_TOOLS[i]}" "${TEST_TOOLS[i + 1]}"
    done
}

case "${1:-}" in
    example) example ;;
    test) test_all ;;
    packages) packages ;;
    install)
        shift
        install_packages "what follows" required "$@"
        ;;
    *)
        echo "usage: $0 example | test | packages | install PACKAGE..." >&2
        exit 2
        ;;
esac
