#!/usr/bin/env bash
# CSV: Debian's trans-de-en made comma-separated values, every field quoted
# and the English side's " | " parts as further columns.
#   bench/import-formats/csv.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/de-en.csv
if [ ! -f "$input" ]; then
    { echo "word,translation"
      grep -v '^#' /usr/share/trans/de-en | awk -F ' :: ' 'NF == 2 {
          gsub(/"/, "\"\"", $1); gsub(/"/, "\"\"", $2); gsub(/ [|] /, "\",\"", $2)
          printf "\"%s\",\"%s\"\n", $1, $2 }'
    } >"$input"
fi
timed_import csv "$(stat -c %s "$input")" "$input" "$data/csv.out"
