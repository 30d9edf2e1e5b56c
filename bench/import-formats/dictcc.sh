#!/usr/bin/env bash
# dict.cc: exports cannot be downloaded here, so one of their shape is made
# from Debian's trans-de-en (German :: English lines, about 190,000).
#   bench/import-formats/dictcc.sh DATA LEXARO-IMPORT
set -euo pipefail
data=$1 import=$2
input=$data/dictcc.txt
if [ ! -f "$input" ]; then
    { echo "# dict.cc German-English vocabulary database (made from trans-de-en)"
      grep -v '^#' /usr/share/trans/de-en | awk -F ' :: ' 'NF == 2 {
          n = split($1, de, " [|] "); split($2, en, " [|] ")
          for (i = 1; i <= n; i++) printf "%s\t%s\t%s\t%s\n", de[i], en[i], (i % 2 ? "noun" : "verb"), (i % 3 ? "" : "[ugs.]") }'
    } >"$input"
fi
/usr/bin/time -f '%e %M' -o "$data/dictcc.time" "$import" --format dictcc "$input" "$data/dictcc.out" 2>"$data/dictcc.summary"
read -r seconds kib <"$data/dictcc.time"
entries=$(sed -n 's/^  words written: *//p' "$data/dictcc.summary")
awk -v b="$(stat -c %s "$input")" -v s="$seconds" -v k="$kib" -v e="$entries" \
    'BEGIN { printf "dictcc %.1f %s %.0f %s\n", b / 1e6, s, k / 1024, e }'
