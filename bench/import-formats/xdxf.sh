#!/usr/bin/env bash
# XDXF: Debian's trans-de-en written as a logical XDXF file (an article per
# line, its " | " parts as <def> senses), gzipped as such files often come.
#   bench/import-formats/xdxf.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/de-en.xdxf.gz
if [ ! -f "$input" ]; then
    { echo '<?xml version="1.0" encoding="UTF-8" ?>'
      echo '<xdxf lang_from="GER" lang_to="ENG" format="logical"><meta_info><full_title>trans-de-en</full_title></meta_info><lexicon>'
      grep -v '^#' /usr/share/trans/de-en | awk -F ' :: ' 'NF == 2 {
          gsub(/&/, "\\&amp;"); gsub(/</, "\\&lt;"); gsub(/>/, "\\&gt;")
          n = split($1, de, " [|] "); split($2, en, " [|] ")
          printf "<ar><k>%s</k><def>", de[1]
          for (i = 1; i <= n; i++) printf "<def><deftext>%s</deftext> <tr>%s</tr></def>", en[i], de[i]
          print "</def></ar>" }'
      echo '</lexicon></xdxf>'
    } | gzip -1 >"$input"
fi
bytes=$(gzip -dc "$input" | wc -c)
timed_import xdxf "$bytes" "$input" "$data/xdxf.out"
