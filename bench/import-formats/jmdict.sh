#!/usr/bin/env bash
# JMdict: no Debian package ships it, so a file of its shape and size is made
# from Debian's EDICT (make-jmdict), and imported with its English glosses.
#   bench/import-formats/jmdict.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/JMdict
[ -f "$input" ] || "$(dirname "$0")/make-jmdict" "$input"
timed_import jmdict "$(stat -c %s "$input")" "$input" "$data/jmdict.txt"
