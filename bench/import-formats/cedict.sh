#!/usr/bin/env bash
# CC-CEDICT: no Debian package ships it, so lines of its shape are made from
# EDICT's kanji (make-cedict).
#   bench/import-formats/cedict.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/cedict_ts.u8
[ -f "$input" ] || "$(dirname "$0")/make-cedict" "$input"
timed_import cedict "$(stat -c %s "$input")" "$input" "$data/cedict.txt"
