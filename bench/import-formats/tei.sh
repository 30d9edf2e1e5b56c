#!/usr/bin/env bash
# FreeDict TEI: German-English (deu-eng.tei, 449 MB, 517,534 entries) from
# Debian's source package freedict, fetched and unpacked under the data
# folder the first time (74 MB download, 1.4 GB unpacked), or taken from
# FREEDICT_SOURCE (an unpacked freedict-VERSION folder).
#   bench/import-formats/tei.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
tree=${FREEDICT_SOURCE:-}
if [ -z "$tree" ]; then
    tree=$(ls -d "$data"/freedict-src/freedict-*/ 2>/dev/null | head -n 1 || true)
    [ -n "$tree" ] || tree=$(scripts/debian-source freedict "$data/freedict-src")
fi
input=${tree%/}/deu-eng/deu-eng.tei
[ -f "$input" ] || { echo "no $input in the freedict source package" >&2; exit 1; }
timed_import tei "$(stat -c %s "$input")" "$input" "$data/tei.txt"
