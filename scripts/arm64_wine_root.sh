#!/usr/bin/env bash
# The arm64 Debian 13 root whose Wine runs the ARM64 programs, through
# qemu-user and binfmt_misc. Kept outside the checkout so that later runs on
# the same machine reuse it (KORVEL_ARM64_ROOT, else
# /var/cache/korvel/wine-arm64-root); made anew when missing or incomplete.
# Prints the root's path. Debian 12's own arm64 Wine is no real PE build and
# crashes on variadic calls, hence trixie's.
set -euo pipefail

root=${KORVEL_ARM64_ROOT:-/var/cache/korvel/wine-arm64-root}
# What the root holds; a root made from another recipe is made anew.
recipe="debootstrap --arch=arm64 --variant=minbase trixie; apt-get install --no-install-recommends wine"
stamp=.korvel-root-recipe

# qemu-aarch64 for every arm64 ELF, also inside a chroot ("fix_binary yes":
# the kernel holds the interpreter open from registration on).
enable_binfmt() {
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || {
        update-binfmts --import qemu-aarch64 > /dev/null 2>&1 || true
        update-binfmts --enable qemu-aarch64
    }
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-aarch64
}

# The host's mirror, as apt knows it.
mirror() {
    local uri
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -1)
    echo "${uri:-http://deb.debian.org/debian}"
}

make_root() {
    local partial="$root.partial"
    echo "== making the arm64 Wine root in $root (a few minutes, about 1 GB)" >&2
    rm -rf "$partial" "$root"
    debootstrap --arch=arm64 --variant=minbase trixie "$partial" "$(mirror)" > "$partial.log" 2>&1 ||
        { tail -5 "$partial.log" >&2; return 1; }
    cp /etc/resolv.conf "$partial/etc/resolv.conf"
    mount -t proc proc "$partial/proc"
    local rc=0
    chroot "$partial" sh -c 'apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine &&
        apt-get clean' >> "$partial.log" 2>&1 || rc=$?
    umount "$partial/proc"
    [ $rc -eq 0 ] || { tail -5 "$partial.log" >&2; return 1; }
    echo "$recipe" > "$partial/$stamp"
    mv "$partial" "$root" && mv "$partial.log" "$root.log"
}

enable_binfmt || { echo "arm64_wine_root: cannot run arm64 programs through qemu-user" >&2; exit 1; }
# One maker at a time: test.sh starts one early, in the background, and the
# suites' own call waits here for it.
mkdir -p "$(dirname "$root")"
exec 9> "$root.lock"
flock 9
[ "$(cat "$root/$stamp" 2>/dev/null)" = "$recipe" ] && [ -x "$root/usr/bin/wine" ] || make_root
echo "$root"
