#!/usr/bin/env bash
# The local build's Debian package as a packager and a new user would meet it:
# lintian finds no error and no warning; in a fresh minimal Debian 12 system
# (mmdebstrap, from the sources the host uses, with the host's apt cache),
# `apt-get install ./quorvel_*.deb` resolves; quorvel starts under Xvfb on a
# private bus with only loopback, shows its window and the service's page
# (whose load the service counts), and SIGTERM ends it with status 0 and no
# service left; `apt-get purge` leaves nothing of the package.
#   package-fresh-system.sh BUILD_DIR
# Needs root (mmdebstrap's root mode, chroot, mounts) and Debian's mirror.
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$(dirname "$0")/../..")
artifacts=$build/e2e-artifacts
mkdir -p "$artifacts"
tmp=$(mktemp -d /tmp/quorvel-fresh.XXXXXX)
root=$tmp/root
mounts=()
run_started=$SECONDS

cleanup() {
    local status=$?
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    [ -n "${BUS_PID:-}" ] && kill "$BUS_PID" 2>/dev/null
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf --one-file-system "$tmp"
    exit "$status"
}
trap cleanup EXIT
source "$(dirname "$0")/package-fresh-common.sh"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# -- the package and lintian --------------------------------------------------
cmake --build "$build" --target package >"$tmp/package.out" 2>&1 ||
    { tail -n 30 "$tmp/package.out" >&2; fail "the package did not build"; }
deb=$(ls "$build"/quorvel_*_amd64.deb)
lintian --fail-on error,warning --info "$deb" | tee "$artifacts/lintian.txt" ||
    fail "lintian reports errors or warnings"
pass "lintian: no error, no warning"

# -- a fresh Debian 12 ----------------------------------------------------------
# The host's apt cache is the new system's while it is made and while the
# package is installed: only what is not there yet is downloaded. The host's
# cache stays as it is while the new system uses it (through an
# overlay); what was downloaded is added to it at the end.
cache=$tmp/cache
mkdir -p "$cache" "$tmp/cache-new" "$tmp/cache-work"
mount -t overlay overlay -o "lowerdir=/var/cache/apt/archives,upperdir=$tmp/cache-new,workdir=$tmp/cache-work" "$cache"
mounts+=("$cache" "$root/var/cache/apt/archives")
sources=$tmp/debian.sources
cat /etc/apt/sources.list.d/*.sources >"$sources" 2>/dev/null || true
[ -s "$sources" ] || cp /etc/apt/sources.list "$tmp/debian.list"
mmdebstrap --quiet --variant=apt --include=passwd,ca-certificates \
    --skip=download/empty --skip=essential/unlink --skip=cleanup/apt/lists \
    --setup-hook="mkdir -p \"\$1\"/var/cache/apt/archives && mount --bind $cache \"\$1\"/var/cache/apt/archives" \
    --customize-hook='umount "$1"/var/cache/apt/archives' \
    bookworm "$root" "$([ -s "$sources" ] && echo "$sources" || echo "$tmp/debian.list")" \
    >"$tmp/mmdebstrap.out" 2>&1 || { tail -n 30 "$tmp/mmdebstrap.out" >&2; fail "mmdebstrap failed"; }
pass "a minimal bookworm after $((SECONDS - run_started)) s"

for fs in proc sys dev dev/pts; do
    mkdir -p "$root/$fs"
    case $fs in
        proc) mount -t proc proc "$root/proc" ;;
        *) mount --rbind "/$fs" "$root/$fs" ;;
    esac
    mounts+=("$root/$fs")
done
mount -t tmpfs tmpfs "$root/tmp"
mounts+=("$root/tmp")
find "$root" -xdev -path "$root/var" -prune -o -print 2>/dev/null | sed "s|^$root||" | sort >"$tmp/before.txt"

cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount --bind "$cache" "$root/var/cache/apt/archives"
in_root apt-get install -y -q "/tmp/$(basename "$deb")" >"$tmp/install.out" 2>&1 ||
    { tail -n 30 "$tmp/install.out" >&2; fail "apt-get install of the package failed"; }
grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$tmp/install.out"
umount "$root/var/cache/apt/archives"
pass "apt-get install ./$(basename "$deb") resolves in the fresh system"
in_root useradd -m tester

# -- the shell under Xvfb, on a private bus, with only loopback ----------------
unshare -n -- bash "$source_dir/tests/e2e/package-fresh-run.sh" "$root" "$artifacts" ||
    fail "the installed shell did not run as it should"

# -- purge -----------------------------------------------------------------------
in_root dpkg -L quorvel >"$tmp/files.txt"
in_root apt-get purge -y -q quorvel >"$tmp/purge.out" 2>&1 ||
    { tail -n 30 "$tmp/purge.out" >&2; fail "apt-get purge failed"; }
left=()
while read -r path; do
    # Folders such as the icon theme's belong to other packages too.
    if [ -e "$root$path" ] && [ ! -d "$root$path" ]; then left+=("$path"); fi
done <"$tmp/files.txt"
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
find "$root" -xdev \( -path "$root/var" -o -path "$root/home" -o -path "$root/tmp" -o -path "$root/root" \) -prune \
    -o -print 2>/dev/null | sed "s|^$root||" | sort >"$tmp/after.txt"
new=$(comm -13 "$tmp/before.txt" "$tmp/after.txt" | grep -i quorvel || true)
[ -z "$new" ] || fail "left after purge: $new"
pass "apt-get purge leaves nothing of the package outside the home folder"

downloaded=$(find "$tmp/cache-new" -name '*.deb' -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
find "$tmp/cache-new" -name '*.deb' -exec cp -n -t /var/cache/apt/archives {} +
echo "the fresh-system run took $((SECONDS - run_started)) s and downloaded $downloaded KiB"
