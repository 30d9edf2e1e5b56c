#!/usr/bin/env bash
# MDict 3.0: about 100 MB of HTML records (English-Chinese in shape, a tenth
# of them @@@LINK= references) in a 3.0 .mdx whose blocks are zlib with their
# heads enciphered (Salsa20/8 for records, MDict's simple cipher for keys and
# indexes), made by scripts/make-mdx --version 3.0. The input size is that of
# the records, uncompressed.
#   bench/import-formats/mdict3.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/large-3.0.mdx
if [ ! -f "$input" ] || [ ! -f "$input.size" ]; then
    "$(dirname "$0")/../../scripts/make-mdx" "$input" --megabytes 100 --version 3.0 |
        sed -n 's/.*, \([0-9]*\) bytes of records$/\1/p' >"$input.size"
fi
timed_import mdict-3.0 "$(cat "$input.size")" "$input" "$data/mdict3.txt"
