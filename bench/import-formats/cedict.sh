#!/usr/bin/env bash
# CC-CEDICT: no Debian package ships it, so lines of its shape are made from
# EDICT's kanji (about 120,000 entries, the size of the real file).
#   bench/import-formats/cedict.sh DATA LEXARO-IMPORT
set -euo pipefail
data=$1 import=$2
input=$data/cedict_ts.u8
if [ ! -f "$input" ]; then
    { echo "# CC-CEDICT"; echo "#! version=1"
      iconv -f EUC-JP -t UTF-8 /usr/share/edict/edict | awk -F' ' 'NR > 1 && NR % 2 == 0 {
          n++; printf "%s %s%s [zhong%d guo%d] /gloss %d/second gloss of %s/\n", $1, $1, (n % 3 ? "" : "x"), n % 5, n % 4, n, $1 }'
    } >"$input"
fi
/usr/bin/time -f '%e %M' -o "$data/cedict.time" "$import" "$input" "$data/cedict.txt" 2>"$data/cedict.summary"
read -r seconds kib <"$data/cedict.time"
entries=$(sed -n 's/^  words written: *//p' "$data/cedict.summary")
awk -v b="$(stat -c %s "$input")" -v s="$seconds" -v k="$kib" -v e="$entries" \
    'BEGIN { printf "cedict %.1f %s %.0f %s\n", b / 1e6, s, k / 1024, e }'
