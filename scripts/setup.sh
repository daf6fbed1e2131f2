#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the installer, and fetches the zlib
# source package whose contrib/minizip we build. Does nothing when everything is already there.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/build/deps"

packages=(
  cmake make python3 ca-certificates dpkg-dev locales
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev googletest
  wine wine64
  xvfb xdotool x11-utils imagemagick
  nginx-light squid apache2-utils
  curl unzip openssl
  osslsigncode softhsm2 libengine-pkcs11-openssl
  fonts-noto-cjk python3-fonttools
  zlib1g-dev libminizip-dev libssl-dev openssl libcurl4-openssl-dev
  mmdebstrap
)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# apt-get source needs deb-src entries; add them to the deb822 sources once.
src_file=/etc/apt/sources.list.d/debian.sources
need_update=0
if [ -f "$src_file" ] && ! grep -q '^Types:.*deb-src' "$src_file"; then
  sudo_ sed -i 's/^Types: deb$/Types: deb deb-src/' "$src_file"
  need_update=1
elif [ ! -f "$src_file" ] && ! grep -rqs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "deb-src http://deb.debian.org/debian bookworm main" | sudo_ tee /etc/apt/sources.list.d/deb-src.list >/dev/null
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  sudo_ apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  # Debian's nginx and squid start system-wide instances on install; the tests run their own.
  for s in nginx squid; do sudo_ systemctl disable --now "$s" >/dev/null 2>&1 || sudo_ service "$s" stop >/dev/null 2>&1 || true; done
fi

# Chinese locale for Wine: ANSI code page 936 and Chinese date and time formats.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sudo_ sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | sudo_ tee -a /etc/locale.gen >/dev/null
  sudo_ locale-gen >/dev/null
fi

# The zlib source package, unpacked in the build tree (never committed).
if [ ! -f "$deps/zlib/contrib/minizip/unzip.c" ]; then
  rm -rf "$deps/src" && mkdir -p "$deps/src"
  # The security mirror may list a version whose source it does not carry: try each listed version.
  versions=$(apt-cache showsrc zlib | awk '/^Version:/ {print $2}' | sort -Vru)
  for v in $versions; do
    (cd "$deps/src" && apt-get source -q "zlib=$v" >/dev/null 2>&1) && break
    rm -rf "${deps:?}/src"/*
  done
  [ -d "$(echo "$deps/src"/zlib-*/)" ] || { echo "setup: could not fetch the zlib source package" >&2; exit 1; }
  rm -rf "$deps/zlib" && mv "$deps/src"/zlib-*/ "$deps/zlib" && rm -rf "$deps/src"
fi
echo "setup: ready"
