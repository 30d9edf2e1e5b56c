#!/usr/bin/env bash
# Babylon: about 100 MB of records (inflated) shaped like a large glossary:
# HTML definitions in CP1252 with accented words, alternates on one entry in
# five, part of speech and transcription fields on one in four, a few
# definitions in UTF-8 and in <charset c=U> tags, and the glossary's
# properties after the entries, as Babylon's builder writes them.
#   bench/import-formats/babylon.sh DATA LEXARO-IMPORT
set -euo pipefail
source "$(dirname "$0")/lib.sh"
data=$1 import=$2
input=$data/large.bgl
if [ ! -f "$input" ] || [ ! -f "$input.size" ]; then
    python3 - "$input" <<'PYTHON'
import random, struct, sys, zlib
r = random.Random(20261210)
syll = ["ka", "ro", "mi", "ta", "ne", "so", "lu", "ve", "dor", "pin", "gra", "tel", "\xe9", "\xe8r"]
words = ["the", "of", "a", "small", "river", "house", "to", "run", "caf\xe9", "na\xefve", "red", "old"]

def record(kind, data):
    n = len(data)
    if n < 12:
        return bytes([((n + 4) << 4) | kind]) + data
    size = 1 if n < 1 << 8 else 2 if n < 1 << 16 else 3 if n < 1 << 24 else 4
    return bytes([((size - 1) << 4) | kind]) + n.to_bytes(size, "big") + data

def text(count):
    return " ".join(r.choice(words) for _ in range(count))

body = bytearray()
body += record(0, b"\x08\x41")
n = 0
while len(body) < 100_000_000:
    n += 1
    word = ("".join(r.choice(syll) for _ in range(r.randint(2, 4))) + str(n)).encode("cp1252")
    senses = []
    for sense in range(1, r.randint(2, 5)):
        senses.append(f"<b>{sense}.</b> {text(r.randint(4, 12))}, <i>{text(3)}</i>"
                      f" <a href='bword://{r.choice(words)}'>{r.choice(words)}</a>")
    definition = "<br>".join(senses).encode("cp1252")
    if n % 50 == 0:
        definition += " \u0437\u0434\u0435\u0441\u044c".encode("utf-8")  # raw UTF-8 in CP1252
    if n % 70 == 0:
        definition += "<charset c=U>\u0436\u0438\u0437\u043d\u044c</charset>".encode("utf-8")
    if n % 4 == 0:
        ipa = "\u02c8ka\u028a".encode("utf-8")
        definition += b"\x14\x02" + bytes([0x30 + n % 4]) + b"\x50\x1b" + bytes([len(ipa)]) + ipa
    data = bytes([len(word)]) + word + len(definition).to_bytes(2, "big") + definition
    if n % 5 == 0:
        for k in range(r.randint(1, 3)):
            alternate = word + (b"s", b"es", b"ed")[k]
            data += bytes([len(alternate)]) + alternate
    body += record(1, data)
for code, value in ((0x01, b"Large Babylon glossary"), (0x0c, n.to_bytes(4, "big")),
                    (0x1a, b"A"), (0x1b, b"A")):
    body += record(3, code.to_bytes(2, "big") + value)
body += record(4, b"")
header = b"\x12\x34\x00\x01\x00\x47" + bytes(range(65))
with open(sys.argv[1], "wb") as out:
    out.write(header + zlib.compress(bytes(body), 6, wbits=31))
with open(sys.argv[1] + ".size", "w") as out:
    out.write(str(len(body)))
PYTHON
fi
timed_import babylon "$(cat "$input.size")" "$input" "$data/babylon.txt"
