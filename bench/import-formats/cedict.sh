#!/usr/bin/env bash
# CC-CEDICT: no Debian package ships it, so lines of its shape are made from
# EDICT's kanji (about 120,000 entries, the size of the real file).
#   bench/import-formats/cedict.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/cedict_ts.u8
if [ ! -f "$input" ]; then
    { echo "# CC-CEDICT"; echo "#! version=1"
      iconv -f EUC-JP -t UTF-8 /usr/share/edict/edict | awk -F' ' 'NR > 1 && NR % 2 == 0 {
          n++; printf "%s %s%s [zhong%d guo%d] /gloss %d/second gloss of %s/\n", $1, $1, (n % 3 ? "" : "x"), n % 5, n % 4, n, $1 }'
    } >"$input"
fi
timed_import cedict "$(stat -c %s "$input")" "$input" "$data/cedict.txt"
