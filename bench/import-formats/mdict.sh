#!/usr/bin/env bash
# MDict: about 100 MB of HTML records (English-Chinese in shape, a tenth of
# them @@@LINK= references) in a version 2.0 .mdx of zlib blocks, made by
# scripts/make-mdx. The input size is that of the records, uncompressed.
#   bench/import-formats/mdict.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/large.mdx
if [ ! -f "$input" ] || [ ! -f "$input.size" ]; then
    "$(dirname "$0")/../../scripts/make-mdx" "$input" --megabytes 100 |
        sed -n 's/.*, \([0-9]*\) bytes of records$/\1/p' >"$input.size"
fi
timed_import mdict "$(cat "$input.size")" "$input" "$data/mdict.txt"
