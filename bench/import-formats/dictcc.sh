#!/usr/bin/env bash
# dict.cc: exports cannot be downloaded here, so one of their shape is made
# from Debian's trans-de-en (German :: English lines, about 190,000).
#   bench/import-formats/dictcc.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/dictcc.txt
if [ ! -f "$input" ]; then
    { echo "# dict.cc German-English vocabulary database (made from trans-de-en)"
      grep -v '^#' /usr/share/trans/de-en | awk -F ' :: ' 'NF == 2 {
          n = split($1, de, " [|] "); split($2, en, " [|] ")
          for (i = 1; i <= n; i++) printf "%s\t%s\t%s\t%s\n", de[i], en[i], (i % 2 ? "noun" : "verb"), (i % 3 ? "" : "[ugs.]") }'
    } >"$input"
fi
timed_import dictcc "$(stat -c %s "$input")" --format dictcc "$input" "$data/dictcc.out"
