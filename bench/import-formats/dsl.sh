#!/usr/bin/env bash
# DSL: about 100 MB of cards shaped like a large Lingvo dictionary (optional
# parts, sub-entries, tags, examples), in UTF-16LE with a byte-order mark and
# dictzipped, as such dictionaries are usually shipped.
#   bench/import-formats/dsl.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/large.dsl.dz
if [ ! -f "$input" ]; then
    python3 - "$data/large.dsl" <<'PYTHON'
import random, sys
r = random.Random(20261209)
syll = ["ka", "ro", "mi", "ta", "ne", "so", "lu", "ve", "dor", "pin", "gra", "tel"]
ru = ["цвет", "дом", "идти", "красный", "быстро", "вода", "книга", "слово"]
with open(sys.argv[1], "w", encoding="utf-16-le", newline="\n") as out:
    out.write("\ufeff#NAME \"Large English-Russian\"\n#INDEX_LANGUAGE \"English\"\n"
              "#CONTENTS_LANGUAGE \"Russian\"\n\n")
    size, n = 0, 0
    while size < 50_000_000:  # characters: about 100 MB in UTF-16
        n += 1
        word = "".join(r.choice(syll) for _ in range(r.randint(2, 4))) + str(n)
        card = f"{word}(s)\n{{the }}{word}\n"
        for sense in range(1, r.randint(2, 5)):
            card += (f"\t[m1]{sense}) [p]n[/p] [trn]{r.choice(ru)}, {r.choice(ru)}[/trn][/m]\n"
                     f"\t[m2][ex][lang id=1033]a ~ of {r.choice(syll)}[/lang] — "
                     f"{r.choice(ru)} {r.choice(ru)}[/ex][/m]\n")
        if n % 7 == 0:
            card += f"\t[s]{word}.wav[/s]\n\t@ {word} bar\n\t[m1][trn]{r.choice(ru)}[/trn][/m]\n\t@\n"
        card += "\n"
        out.write(card)
        size += len(card)
PYTHON
    dictzip "$data/large.dsl"
fi
bytes=$(gzip -dc "$input" | wc -c)
timed_import dsl "$bytes" "$input" "$data/dsl.txt"
