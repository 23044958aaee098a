#!/usr/bin/env bash
# The README's quick start on a fresh machine: a minimal Debian 12 root (debootstrap --variant=minbase:
# no git, cmake, compiler, Python, sudo or man), a clone of this checkout's HEAD in it, and the two
# commands of the README's "Quick start" block run there as root, as they stand, and nothing else.
# Checks that the first exits 0 and writes the example's PDB file, that the second exits 0 with every
# test passed and none skipped, and that the clone holds no new file that git does not ignore.
#
# usage: .ci/fresh_root.sh        (as root, with debootstrap; skipped with a message otherwise)
#        .ci/fresh_root.sh --ci   runs `bash .ci/run` (CI=true) in the fresh root instead, and checks that
#                                 it exits 0 and leaves the clone clean (it takes much longer; not run
#                                 by .ci/run itself)
#
# Between runs, /var/cache/voxmol-fresh-root keeps the debootstrapped root as a tarball (made anew
# after 30 days) and the Debian packages the commands downloaded (bind-mounted as the root's apt
# archive folder), so a run downloads only what changed; the root itself is unpacked fresh each time.
# VOXMOL_FRESH_ROOT_CACHE sets another cache folder; VOXMOL_FRESH_ROOT_KEEP=1 keeps the root after the
# run; VOXMOL_FRESH_ROOT_MIRROR sets the Debian mirror.
set -euo pipefail
mode=quickstart
[ "${1:-}" = --ci ] && mode=ci
repo=$(cd "$(dirname "$0")/.." && pwd)
suite=bookworm
mirror=${VOXMOL_FRESH_ROOT_MIRROR:-http://deb.debian.org/debian}
cache=${VOXMOL_FRESH_ROOT_CACHE:-/var/cache/voxmol-fresh-root}
arch=$(dpkg --print-architecture 2>/dev/null || echo amd64)
tarball=$cache/$suite-minbase-$arch.tar

skip() {
    echo "SKIPPED: the fresh-root test of the quick start: $*"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "it needs root (debootstrap, chroot and mount)"
command -v debootstrap >/dev/null 2>&1 || skip "debootstrap is not installed (Debian: debootstrap)"
command -v git >/dev/null 2>&1 || skip "git is not installed on this machine (it clones the checkout)"

# The two commands: the lines of the README's sh block under "## Quick start" that are not comments.
commands=()
while IFS= read -r line; do
    commands+=("$line")
done < <(awk '/^## /{section=$0} section=="## Quick start" && /^```/{inside=!inside; next}
              section=="## Quick start" && inside && $0 !~ /^[[:space:]]*(#|$)/' "$repo/README.md")
if [ ${#commands[@]} -ne 2 ]; then
    echo "FAILED: the README's quick start holds ${#commands[@]} commands, not 2:"
    printf '  %s\n' "${commands[@]}"
    exit 1
fi

timed() {  # label, then the command; the time goes to $work/times (also from a pipeline's subshell)
    local label=$1 start status=0
    shift
    start=$(date +%s)
    "$@" || status=$?
    printf '  %-60s %5d s\n' "$label" $(($(date +%s) - start)) >>"$work/times"
    return $status
}

mkdir -p "$cache/apt-archives/partial"
work=$(mktemp -d /var/tmp/voxmol-fresh-root.XXXXXX)
root=$work/root
mounted=()
cleanup() {
    local status=$? m
    for ((m = ${#mounted[@]} - 1; m >= 0; m--)); do
        umount "${mounted[m]}" 2>/dev/null || umount -l "${mounted[m]}" || true
    done
    if grep -q " $work/" /proc/mounts; then
        echo "Something is still mounted under $work: it is left in place"
    elif [ "${VOXMOL_FRESH_ROOT_KEEP:-}" = 1 ]; then
        echo "The root is kept in $root"
    else
        rm -rf --one-file-system "$work"
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mount_in_root() {  # mount arguments..., the mount point last
    mount "$@"
    mounted+=("${!#}")
}

make_root() {
    local fresh=$work/debootstrap
    debootstrap --variant=minbase --arch="$arch" "$suite" "$fresh" "$mirror" >"$work/debootstrap.log" 2>&1 || {
        tail -n 30 "$work/debootstrap.log"
        return 1
    }
    tar -C "$fresh" --numeric-owner -cf "$tarball.new" . && mv "$tarball.new" "$tarball"
    rm -rf --one-file-system "$fresh"
}
if [ -f "$tarball" ] && [ -n "$(find "$tarball" -mtime -30)" ]; then
    echo "== A minimal $suite root, from the cache ($tarball)"
else
    echo "== A minimal $suite root: debootstrap --variant=minbase $suite (cached in $tarball)"
    timed "debootstrap (cache miss)" make_root
fi
mkdir "$root"
timed "unpacking the root" tar -C "$root" --numeric-owner -xf "$tarball"

echo "== A clone of $(git -C "$repo" rev-parse --short HEAD) in /root/voxmol"
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    echo "   (the checkout has uncommitted changes: they are not in the clone)"
fi
git clone -q --no-hardlinks "$repo" "$root/root/voxmol"
git -C "$root/root/voxmol" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"

cp /etc/resolv.conf "$root/etc/resolv.conf"
mount_in_root -t proc proc "$root/proc"
mount_in_root -t tmpfs tmpfs "$root/dev/shm"
mount_in_root -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"  # apt logs through a pty
mount_in_root --bind "$cache/apt-archives" "$root/var/cache/apt/archives"

in_root() {  # a command line, run by bash in the clone with a bare environment
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /root/voxmol && $1"
}
failures=()
run_quickstart() {
    touch "$work/before"
    echo "== 1: ${commands[0]}"
    if timed "1: ${commands[0]%%#*}" in_root "${commands[0]}" 2>&1 | tee "$work/first.log"; then
        local pdb
        pdb=$(cd "$root/root/voxmol" && find examples -name '*.pdb' -newer "$work/before" | head -n 1)
        if [ -z "$pdb" ] || ! grep -q '^ATOM' "$root/root/voxmol/$pdb"; then
            failures+=("the first command wrote no PDB file of the example under examples/")
        else
            echo "== The first command wrote $pdb: $(grep -c '^ATOM' "$root/root/voxmol/$pdb") ATOM records"
        fi
    else
        failures+=("the first command failed")
    fi

    echo "== 2: ${commands[1]}"
    if timed "2: ${commands[1]%%#*}" in_root "${commands[1]}" 2>&1 | tee "$work/second.log"; then
        local summary
        summary=$(grep -E '^[0-9]+% tests passed' "$work/second.log" | tail -n 1)
        if ! grep -Eq '^100% tests passed, 0 tests failed out of [1-9]' <<<"$summary"; then
            failures+=("the second command did not end with every test passed (${summary:-no ctest summary})")
        elif grep -q 'The following tests did not run' "$work/second.log"; then
            failures+=("the second command skipped tests (above, 'The following tests did not run')")
        fi
    else
        failures+=("the second command failed")
    fi
}
run_ci() {
    echo "== bash .ci/run in the fresh root"
    timed "CI=true bash .ci/run" in_root "CI=true bash .ci/run" 2>&1 | tee "$work/ci.log" ||
        failures+=(".ci/run failed")
}
if [ "$mode" = ci ]; then run_ci; else run_quickstart; fi

# Everything the commands wrote is in ignored places.
untracked=$(git -C "$root/root/voxmol" status --porcelain)
if [ -n "$untracked" ]; then
    failures+=("the commands left the checkout unclean: $(tr '\n' ' ' <<<"$untracked")")
fi
in_root "apt-get autoclean -q >/dev/null" || true  # drops superseded packages from the cache

echo "== Times"
cat "$work/times"
if [ ${#failures[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failures[@]}"
    exit 1
fi
echo "Passed on a fresh $suite root: $([ "$mode" = ci ] && echo .ci/run || echo "the README's quick start")."
