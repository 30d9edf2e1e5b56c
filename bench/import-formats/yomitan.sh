#!/usr/bin/env bash
# Yomitan: a JMdict-sized dictionary (210,000 entries, about 420,000 term
# rows in 43 term banks, a third of them structured content, 3,000 kanji
# and a frequency bank) in a zip of deflated JSON, made by
# scripts/make-yomitan. The input size is that of the JSON, uncompressed.
#   bench/import-formats/yomitan.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/jmdict-like.zip
if [ ! -f "$input" ] || [ ! -f "$input.size" ]; then
    "$(dirname "$0")/../../scripts/make-yomitan" "$input" --entries 210000 --kanji 3000 |
        sed -n 's/.*, \([0-9]*\) bytes of JSON$/\1/p' >"$input.size"
fi
timed_import yomitan "$(cat "$input.size")" "$input" "$data/yomitan.txt"
