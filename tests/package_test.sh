#!/bin/sh
# Checks the Debian package that make package wrote: its name and declared
# dependencies, a program in usr/bin and a compressed page in
# usr/share/man/man1 for every manual page of the source tree, programs
# stripped; then installs it (dpkg -i as root, unless lexaro is installed
# already; otherwise unpacked into a scratch root) and runs both programs
# from it on the sample dictionary.
#
#   tests/package_test.sh lexaro_VERSION_ARCH.deb
set -eu
deb=$(realpath "$1")
source_tree=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
installed_here=
cleanup() {
    [ -z "$installed_here" ] || dpkg --purge lexaro >/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

arch=$(dpkg --print-architecture)
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "lexaro_${version}_${arch}.deb" ] || fail "$deb is not named lexaro_${version}_${arch}.deb"
dpkg-deb -f "$deb" Depends | grep -q '\bzlib1g\b' || fail "the package does not depend on zlib1g"

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for page in "$source_tree"/man/*.1; do
    name=$(basename "$page" .1)
    echo "$contents" | grep -qx "./usr/bin/$name" || fail "no usr/bin/$name in the package"
    echo "$contents" | grep -qx "./usr/share/man/man1/$name.1.gz" || fail "no usr/share/man/man1/$name.1.gz in the package"
done

if [ "$(id -u)" = 0 ] && ! dpkg-query -W lexaro >/dev/null 2>&1; then
    dpkg -i "$deb" >/dev/null
    installed_here=yes
    how="installed with dpkg -i"
    root=
else
    dpkg-deb -x "$deb" "$scratch/root"
    how="unpacked into a scratch root"
    root=$scratch/root
fi
for name in $(echo "$contents" | sed -n 's|^\./usr/bin/||p'); do
    program=$root/usr/bin/$name
    [ -x "$program" ] || fail "$program is not installed"
    readelf -S "$program" | grep -q '\.symtab' && fail "$program is not stripped"
done
[ "$("$root/usr/bin/lexaro")" = "usage: lexaro filename [words_per_block]" ] || fail "lexaro does not start"
cp "$source_tree/examples/en-fr.txt" "$scratch/"
"$root/usr/bin/lexaro" "$scratch/en-fr.txt" >/dev/null
"$root/usr/bin/lexaro-dump" --check "$scratch/en-fr.pdb" | grep -q '^entries: *444$' || fail "lexaro-dump does not read what lexaro wrote"
if [ -n "$installed_here" ] && command -v man >/dev/null 2>&1; then
    man -w lexaro | grep -q '^/usr/share/man/man1/lexaro.1.gz$' || fail "man does not find lexaro's page"
fi
echo "package_test: $(basename "$deb") $how; lexaro and lexaro-dump run from it"
