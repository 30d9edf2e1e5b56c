#!/usr/bin/env bash
# EDICT: Debian's edict package (EUC-JP, about 267,000 lines), as it stands.
#   bench/import-formats/edict.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=/usr/share/edict/edict
[ -f "$input" ] || { echo "edict is not installed (apt-get install edict)" >&2; exit 1; }
timed_import edict "$(stat -c %s "$input")" "$input" "$data/edict.txt"
