#!/usr/bin/env bash
# EDICT: Debian's edict package (EUC-JP, about 267,000 lines), as it stands.
#   bench/import-formats/edict.sh DATA LEXARO-IMPORT
set -euo pipefail
data=$1 import=$2
input=/usr/share/edict/edict
[ -f "$input" ] || { echo "edict is not installed (apt-get install edict)" >&2; exit 1; }
/usr/bin/time -f '%e %M' -o "$data/edict.time" "$import" "$input" "$data/edict.txt" 2>"$data/edict.summary"
read -r seconds kib <"$data/edict.time"
entries=$(sed -n 's/^  words written: *//p' "$data/edict.summary")
awk -v b="$(stat -c %s "$input")" -v s="$seconds" -v k="$kib" -v e="$entries" \
    'BEGIN { printf "edict %.1f %s %.0f %s\n", b / 1e6, s, k / 1024, e }'
