#!/usr/bin/env bash
# FreeDict's TEI files against the dictd files Debian builds from them: not
# part of `make test`, since it reads Debian's source package freedict (a
# 74 MB download, 1.4 GB unpacked). `make freedict-check` runs it:
#
#   tests/freedict_tei.sh LEXARO-IMPORT [--all]
#
# The source tree is FREEDICT_SOURCE when set (an unpacked freedict-VERSION
# folder), else fetched once with scripts/debian-source into
# build/data/freedict-src. For spa-eng and deu-eng it imports the dictd
# index and the TEI file, and fails unless every word of the dictd import is
# a word of the TEI import, compared as dictd compares keys (lower case,
# only letters, digits and single spaces: "2°" is dictd's "2"); it prints the
# counts, and checks what the TEI import gives for Haus, essen and Essen.
# With --all, every .tei file of the package must import without error.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: tests/freedict_tei.sh LEXARO-IMPORT [--all]" >&2; exit 2; }
import=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -z "${FREEDICT_SOURCE:-}" ] || FREEDICT_SOURCE=$(cd "$FREEDICT_SOURCE" && pwd)
cd "$(dirname "$0")/.."
all=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scripts/ensure-packages python3 dpkg-dev dict-freedict-spa-eng dict-freedict-deu-eng
tree=${FREEDICT_SOURCE:-}
if [ -z "$tree" ]; then
    tree=$(ls -d build/data/freedict-src/freedict-*/ 2>/dev/null | head -n 1 || true)
    [ -n "$tree" ] || tree=$(scripts/debian-source freedict build/data/freedict-src)
fi
tree=${tree%/}

failed=0
for pair in spa-eng deu-eng; do
    "$import" "/usr/share/dictd/freedict-$pair.index" "$work/d.txt" 2>"$work/d.err"
    "$import" "$tree/$pair/$pair.tei" "$work/t.txt" 2>"$work/t.err"
    python3 - "$pair" "$work/d.txt" "$work/t.txt" <<'PYTHON' || failed=1
import sys
pair, dictd, tei = sys.argv[1:]

def words(path):
    with open(path, encoding="utf-8") as f:
        next(f)  # the title
        return {line.split("$", 1)[0]: line.rstrip("\n").split("$", 1)[1] for line in f}

def key(word):
    kept = "".join(c for c in word.lower() if c.isalnum() or c.isspace())
    return " ".join(kept.split())

d, t = words(dictd), words(tei)
t_keys = {key(w) for w in t}
missing = sorted(w for w in d if key(w) not in t_keys)
exact = sum(1 for w in d if w in t)
print(f"{pair}: dictd import {len(d)} words, TEI import {len(t)} words; "
      f"{exact} of the dictd words written alike, {len(d) - len(missing)} found as dictd "
      f"finds them, {len(missing)} missing")
for w in missing[:20]:
    print("  missing:", w)
wanted = {"Haus": ["house <n>", "home <n>", "volta bracket <n>", "establishment <n>"],
          "essen": ["eat <v>", "dine <v>", '"zu Hause essen" - eat in'],
          "Essen": ["food <n>", "meal <n>", "dinner <n>", "Essen (city in Germany)", "chimneys"]}
bad = []
if pair == "deu-eng":
    for word, parts in wanted.items():
        print(f"  {word}: {t.get(word, '(missing)')[:300]}")
        bad += [f"{word} lacks {p!r}" for p in parts if p not in t.get(word, "")]
for b in bad:
    print("  " + b)
sys.exit(1 if missing or bad else 0)
PYTHON
done

if [ "$all" = --all ]; then
    for file in "$tree"/*/*.tei; do
        name=$(basename "$file" .tei)
        if "$import" "$file" "$work/all.txt" 2>"$work/all.err"; then
            printf '%s: %s entries read\n' "$name" "$(sed -n 's/^  entries read: *//p' "$work/all.err")"
        else
            printf '%s: FAILED: %s\n' "$name" "$(cat "$work/all.err")"
            failed=1
        fi
    done
fi
exit $failed
