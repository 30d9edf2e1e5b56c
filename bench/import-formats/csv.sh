#!/usr/bin/env bash
# CSV: Debian's trans-de-en made comma-separated values, every field quoted
# and the English side's " | " parts as further columns.
#   bench/import-formats/csv.sh DATA LEXARO-IMPORT
set -euo pipefail
data=$1 import=$2
input=$data/de-en.csv
if [ ! -f "$input" ]; then
    { echo "word,translation"
      grep -v '^#' /usr/share/trans/de-en | awk -F ' :: ' 'NF == 2 {
          gsub(/"/, "\"\"", $1); gsub(/"/, "\"\"", $2); gsub(/ [|] /, "\",\"", $2)
          printf "\"%s\",\"%s\"\n", $1, $2 }'
    } >"$input"
fi
/usr/bin/time -f '%e %M' -o "$data/csv.time" "$import" "$input" "$data/csv.out" 2>"$data/csv.summary"
read -r seconds kib <"$data/csv.time"
entries=$(sed -n 's/^  words written: *//p' "$data/csv.summary")
awk -v b="$(stat -c %s "$input")" -v s="$seconds" -v k="$kib" -v e="$entries" \
    'BEGIN { printf "csv %.1f %s %.0f %s\n", b / 1e6, s, k / 1024, e }'
