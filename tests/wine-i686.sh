#!/usr/bin/env bash
# wine-i686.sh wine|wineserver [ARGS...]: `wine ARGS` or `wineserver ARGS` in the runtime that runs the
# 32-bit build here (build/i686-runtime, made by scripts/setup-i686-runtime.sh), with the environment,
# working folder, process id and exit status of a plain call. The source tree is mounted at its own
# path inside, with what is mounted below it (a small drive C: for a test), so prefixes, programs and
# Z: paths are the same as outside; so is the X socket folder.
# Each call has its own mount namespace; the wineserver it starts keeps it and serves later calls.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$top/build/i686-runtime/root
case "${1:-}" in
  wine) program=/usr/lib/wine/wine64 ;;
  wineserver) program=/usr/lib/wine/wineserver64 ;;
  *) echo "usage: $0 wine|wineserver [ARGS...]" >&2; exit 2 ;;
esac
shift
[ -x "$root$program" ] || { echo "wine-i686: no runtime in $root: run scripts/setup-i686-runtime.sh" >&2; exit 2; }
# Debian 13's /usr/bin/wine would prefer the 32-bit loader for everything: the 64-bit one is named.
exec unshare -m --propagation private /bin/sh -c '
  r=$1 top=$2 auth=$3; shift 3
  mount -t proc proc "$r/proc"
  mount --rbind /dev "$r/dev"
  mount --rbind /sys "$r/sys"
  mkdir -p "$r$top" "$r/tmp/.X11-unix"
  mount --rbind "$top" "$r$top"
  if [ -d /tmp/.X11-unix ]; then mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"; fi
  if [ -n "$auth" ]; then mkdir -p "$r$(dirname "$auth")"; touch "$r$auth"; mount --bind "$auth" "$r$auth"; fi
  exec chroot "$r" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$PWD" "$@"
' wine-i686 "$root" "$top" "$([ -f "${XAUTHORITY:-}" ] && echo "$XAUTHORITY")" "$program" "$@"
