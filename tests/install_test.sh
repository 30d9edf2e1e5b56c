#!/bin/sh
# Installs the build into a scratch prefix: the programs land in bin and run,
# and every manual page lands in share/man/man1 and renders without a warning.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

test "$("$prefix/bin/lexaro")" = "usage: lexaro filename [words_per_block]"
test "$("$prefix/bin/lexaro-dump" --help | head -n 1)" = "usage: lexaro-dump [--check | --text] [--charset NAME] FILE.pdb"
test "$("$prefix/bin/lexaro-import" --help | head -n 1)" = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt"
test -f "$prefix/share/man/man1/lexaro.1" && test -f "$prefix/share/man/man1/lexaro-dump.1"
test -f "$prefix/share/man/man1/lexaro-import.1"
for page in "$prefix"/share/man/man1/*.1; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q "^NAME" || { echo "$page does not render"; exit 1; }
done
echo "installed and rendered: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
