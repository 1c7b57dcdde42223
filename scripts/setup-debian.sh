#!/usr/bin/env bash
# Installs, with apt-get, whatever this project needs that the machine lacks:
# the native tool chain and GoogleTest, mingw-w64 for both Windows
# architectures, 64- and 32-bit Wine, and Xvfb with the tools the window
# tests use; clang with libFuzzer, the install tests' tools, ser2net.  Safe to run again: it installs nothing that is present.
set -euo pipefail

native=(cmake make g++ libgtest-dev libgmock-dev)
windows=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686)
wine=(wine wine64)
gui=(xvfb xdotool x11-utils imagemagick)
extra=(gcc-multilib)     # the 32-bit modem-line shim for 32-bit Wine
install=(pkg-config dpkg-dev unzip man-db systemd)   # tests/install: consumers, packages, man pages, systemd-analyze verify
# (systemd is only a package here: nothing starts it in a container)
fuzz=(clang libclang-rt-dev clang-format)   # libFuzzer and the sanitizers for tests/fuzz; the format check
network=(ser2net)        # a serial-port server in front of a pty for the network-port tests
wine32=(wine32:i386)

missing=()
for p in "${native[@]}" "${windows[@]}" "${wine[@]}" "${gui[@]}" "${extra[@]}" "${install[@]}" "${fuzz[@]}" "${network[@]}" "${wine32[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && { echo "setup: everything is installed"; exit 0; }

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
# Everything but 32-bit Wine first, then 32-bit Wine: a Wine prefix is
# created only after both are in (an older prefix stops starting).
first=()
for p in "${missing[@]}"; do [[ $p == *:i386 ]] || first+=("$p"); done
[ ${#first[@]} -gt 0 ] && $SUDO apt-get install -y -qq --no-install-recommends "${first[@]}"
$SUDO apt-get install -y -qq --no-install-recommends "${wine32[@]}"
echo "setup: done"
