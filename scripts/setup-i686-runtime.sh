#!/usr/bin/env bash
# Makes the runtime that runs the 32-bit build here: this kernel executes no 32-bit x86 code at all, so
# Wine 10 from Debian 13 runs in a chroot, its 64-bit half natively and its 32-bit loader under
# qemu-i386 user-mode emulation. Everything lands in build/i686-runtime (chroot in root/, template
# prefix in prefix/); nothing on the host changes. Idempotent: returns at once when the runtime is there.
# Needs root, mmdebstrap (scripts/setup.sh installs it), about 4 GB free and the Debian mirror of this
# machine's apt configuration. tests/wine-i686.sh runs programs in it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rt=$top/build/i686-runtime
root=$rt/root
# Bumped whenever what this script makes changes, so that an older runtime is made again.
recipe=1

[ "$(cat "$rt/.ready" 2>/dev/null)" = "$recipe" ] && [ -x "$root/usr/lib/wine/wine64" ] && [ -f "$rt/prefix/.ready" ] &&
  exit 0

fail() { echo "setup-i686-runtime: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, mount namespaces)"
command -v mmdebstrap >/dev/null || fail "mmdebstrap is missing: run scripts/setup.sh"

# The main archive of this machine's apt sources (not the security archive), deb822 or one-line style.
mirror=$(awk '/^URIs:/ { uri = $2 } /^Suites:/ && !/-security/ && uri { print uri; exit }' \
           /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($(i + 1) !~ /-/) { print $i; exit } } }' \
           /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
[ -n "$mirror" ] || fail "no Debian mirror found in the apt configuration (/etc/apt/sources.list*)"

mkdir -p "$rt"
free_kb=$(df -Pk "$rt" | awk 'NR == 2 { print $4 }')
[ "$free_kb" -ge $((4 * 1024 * 1024)) ] || fail "needs 4 GB free in $rt, has $((free_kb / 1024)) MB"

log=$rt/setup.log
: >"$log"
t0=$(date +%s)
step() { echo "setup-i686-runtime: [$(($(date +%s) - t0)) s] $*"; }
# Runs a command inside the chroot; the mounts live in a private namespace and vanish with it.
in_root() {
  unshare -m --propagation private /bin/sh -c 'r=$1; shift
    mount -t proc proc "$r/proc" && mount --rbind /dev "$r/dev" &&
    exec chroot "$r" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"' \
    sh "$root" "$@"
}
apt_in_root() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends "$@" >>"$log" 2>&1; }

rm -rf "$root" "$rt/prefix" "$rt/prefix.home" "$rt/prefix.lock" "$rt/.ready"

step "Debian 13 with 64-bit Wine from $mirror into $root"
x_libs=libxrender1,libxcursor1,libxi6,libxrandr2,libxfixes3,libxcomposite1,libxinerama1,libxxf86vm1,libxext6
# The dpkg options hold for every later installation in the chroot too; no fsync: a broken chroot is made anew.
mmdebstrap --variant=apt --components=main --dpkgopt=force-unsafe-io \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
  --dpkgopt='path-exclude=/usr/share/info/*' \
  --include=wine,wine64,libwine,fonts-wine,libgnutls30t64,libfreetype6,libfontconfig1,$x_libs,ca-certificates,locales \
  trixie "$root" "$mirror" >>"$log" 2>&1 ||
  fail "mmdebstrap could not make the chroot from $mirror (no network or mirror?); see $log"
# Test servers listen on loopback, some by the name localhost.
grep -qw localhost "$root/etc/hosts" 2>/dev/null || echo "127.0.0.1 localhost" >>"$root/etc/hosts"

step "32-bit Wine and its libraries"
# Some i386 maintainer scripts start i386 helpers and print "Exec format error"; the packages still
# configure, and nothing here needs those helpers' caches.
in_root dpkg --add-architecture i386
apt_in_root update || fail "apt-get update in the chroot failed; see $log"
apt_in_root install wine32:i386 libfreetype6:i386 libfontconfig1:i386 libgnutls30t64:i386 \
  $(tr , '\n' <<<"$x_libs" | sed 's/$/:i386/') || fail "installing wine32:i386 failed; see $log"

step "qemu-i386 from the qemu-user package"
in_root sh -c 'cd /tmp && apt-get download -q qemu-user && dpkg-deb --fsys-tarfile qemu-user_*.deb |
  tar -x -O ./usr/bin/qemu-i386 >/usr/local/bin/qemu-i386 && chmod 755 /usr/local/bin/qemu-i386 &&
  rm -f qemu-user_*.deb' >>"$log" 2>&1 || fail "fetching qemu-i386 failed; see $log"

step "trap-number shim for the 32-bit loader"
mkdir -p "$root/usr/local/src" "$root/usr/local/lib/i386-linux-gnu" "$root/usr/local/lib/x86_64-linux-gnu"
cp "$top/scripts/i686-runtime/trapfix.c" "$root/usr/local/src/trapfix.c"
apt_in_root install gcc-i686-linux-gnu libc6-dev-i386-cross || fail "installing the i686 C compiler failed; see $log"
in_root i686-linux-gnu-gcc -shared -fPIC -O2 -Wall -Werror -o /usr/local/lib/i386-linux-gnu/trapfix.so \
  /usr/local/src/trapfix.c >>"$log" 2>&1 || fail "building the shim failed; see $log"
apt_in_root purge --autoremove gcc-i686-linux-gnu libc6-dev-i386-cross
in_root apt-get clean
# 64-bit children inherit the preload; their $LIB finds glibc's empty libdl there, which loads quietly.
ln -sf /usr/lib/x86_64-linux-gnu/libdl.so.2 "$root/usr/local/lib/x86_64-linux-gnu/trapfix.so"

step "32-bit loader wrapper"
# 64-bit Wine starts a 32-bit process by executing <bindir>/wine, whatever WINELOADER says; a script
# there hands the i386 ELF to qemu-i386 (a symbolic link would not do: the loader finds its libraries
# relative to its own path). "-0" keeps argv[0], so 32-bit Wine starts its 32-bit children the same way.
in_root dpkg-divert --local --rename --divert /usr/lib/wine/wine.i386 --add /usr/lib/wine/wine >>"$log"
cat >"$root/usr/lib/wine/wine" <<'EOF'
#!/bin/sh
# The kernel runs no 32-bit code: the i386 Wine loader runs under qemu-i386, with the shim that gives
# Wine the trap numbers qemu leaves out ($LIB picks the i386 build of the shim).
exec /usr/local/bin/qemu-i386 -E 'LD_PRELOAD=/usr/local/$LIB/trapfix.so' -0 /usr/lib/wine/wine /usr/lib/wine/wine.i386 "$@"
EOF
chmod 755 "$root/usr/lib/wine/wine"

step "Chinese locale and a CJK font"
sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' "$root/etc/locale.gen"
grep -q '^zh_CN.UTF-8 UTF-8' "$root/etc/locale.gen" || echo 'zh_CN.UTF-8 UTF-8' >>"$root/etc/locale.gen"
in_root locale-gen >>"$log" 2>&1 || fail "locale-gen failed; see $log"
# The host's Noto Sans CJK (fonts-noto-cjk, from scripts/setup.sh): the same face the x86_64 prefix uses.
mkdir -p "$root/usr/local/share/fonts"
for face in Regular Bold; do
  cp /usr/share/fonts/opentype/noto/NotoSansCJK-$face.ttc "$root/usr/local/share/fonts/" ||
    fail "NotoSansCJK-$face.ttc missing on the host: run scripts/setup.sh"
done

step "template prefix (its 32-bit half runs under qemu)"
MIREVALE_WIDTH=i686 "$top/tests/wine-prefix.sh" "$rt/prefix" >>"$log" 2>&1 ||
  fail "making the prefix failed; see $log"
n=$(find "$rt/prefix/drive_c/windows/syswow64" -maxdepth 1 2>/dev/null | wc -l)
[ "$n" -ge 100 ] || fail "the 32-bit half of the prefix is empty ($n files in syswow64): 32-bit Wine does not start; see $log"

echo "$recipe" >"$rt/.ready"
step "ready: $(du -sh "$rt" | cut -f1) in $rt"
