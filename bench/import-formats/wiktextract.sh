#!/usr/bin/env bash
# Wiktextract: about 100 MB of JSON lines shaped like an English Wiktionary
# extract (sounds, senses with tags and categories, forms, translations into
# many languages), imported as it is and with --translations de.
#   bench/import-formats/wiktextract.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/wiktextract.jsonl
if [ ! -f "$input" ]; then
    python3 - "$input" <<'PYTHON'
import json, random, sys
r = random.Random(20261209)
syll = ["ka", "ro", "mi", "ta", "ne", "so", "lu", "ve", "dor", "pin", "gra", "tel"]
langs = [("de", "German"), ("fr", "French"), ("es", "Spanish"), ("ru", "Russian"), ("ja", "Japanese")]
with open(sys.argv[1], "w", encoding="utf-8") as out:
    size, n = 0, 0
    while size < 100_000_000:
        n += 1
        word = "".join(r.choice(syll) for _ in range(r.randint(2, 4))) + str(n)
        entry = {
            "word": word, "pos": r.choice(["noun", "verb", "adj"]), "lang": "English", "lang_code": "en",
            "sounds": [{"ipa": "/" + word + "ə/", "tags": ["UK"]}, {"audio": word + ".ogg", "ogg_url": "https://example.org/" + word + ".ogg"}],
            "forms": [{"form": word + "s", "tags": ["plural"]}],
            "senses": [{"glosses": ["Something about " + " ".join(r.choice(syll) for _ in range(8)) + "."],
                        "tags": ["countable"], "categories": [{"name": "English nouns", "kind": "other", "source": "w"}],
                        "examples": [{"text": "An example with " + word + ".", "type": "example"}]}
                       for _ in range(r.randint(1, 3))],
            "translations": [{"code": c, "lang": l, "word": word[::-1] + c, "sense": "something"} for c, l in langs],
            "etymology_text": "From " + word[:3] + ", of unknown origin.",
        }
        line = json.dumps(entry, ensure_ascii=n % 2 == 0) + "\n"
        out.write(line)
        size += len(line.encode())
PYTHON
fi
bytes=$(stat -c %s "$input")
timed_import wiktextract-de "$bytes" --translations de "$input" "$data/wiktextract-de.out"
timed_import wiktextract "$bytes" "$input" "$data/wiktextract.out"
