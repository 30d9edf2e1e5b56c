#!/usr/bin/env bash
# Checks the Windows download that make windows-zip wrote: its files, the
# README's CR LF line ends, stripped programs, and that the programs from it
# make under wine what the Linux ones make (scripts/compare-windows).
#   tests/windows_zip_test.sh lexaro-VERSION-windows-x64.zip LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
zip=$(realpath "$1")
linux=$(realpath "$2")
windows=$(realpath "$3")
source_tree=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "windows_zip_test: $*" >&2; exit 1; }

name=$(basename "$zip" .zip)
(cd "$work" && unzip -q "$zip")
folder=$work/$name
[ -d "$folder" ] || fail "the zip holds no folder $name"
expected="README.txt lexaro-dump.exe lexaro-dump.txt lexaro-import.exe lexaro-import.txt lexaro.exe lexaro.txt"
[ "$(cd "$folder" && ls | sort | tr '\n' ' ' | sed 's/ $//')" = "$expected" ] ||
    fail "the files are $(cd "$folder" && ls | tr '\n' ' '), not $expected"
for page in "$source_tree"/man/*.1; do
    grep -q "^NAME" "$folder/$(basename "$page" .1).txt" || fail "$(basename "$page" .1).txt is no manual page"
done
lines=$(wc -l <"$folder/README.txt")
[ "$(grep -c $'\r$' "$folder/README.txt")" = "$lines" ] || fail "README.txt has lines without CR LF"
grep -q 'lexaro-import.exe --charset PALM-LATIN dict.ifo dict.pdb' "$folder/README.txt" ||
    fail "README.txt lacks the worked example"
for program in lexaro lexaro-dump lexaro-import; do
    ! x86_64-w64-mingw32-objdump -h "$folder/$program.exe" | grep -q '\.debug' ||
        fail "$program.exe is not stripped"
done

export WINEPREFIX=$windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
"$source_tree/scripts/compare-windows" "$linux" "$folder"
echo "windows_zip_test: $name is complete and its programs write the Linux bytes"
