# Shared by bench/run and bench/dump (sourced from the top of the
# repository): settings, helpers, the Release build and the inputs.

runs=${BENCH_RUNS:-5}
build=${BENCH_BUILD:-build-bench}
data=$build/data
results=bench/results.md
dictionary=/usr/share/trans/de-en

# Progress on the console, only when it is a terminal.
progress() { [ -t 1 ] && printf '\r%-40s\r' "$*" || true; }

fail() {
    echo "bench: $*" >&2
    exit 1
}

# field NAME "k=v k=v ...": the value of NAME.
field() { sed -n "s/.*\<$1=\([^ ]*\).*/\1/p" <<<"$2"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
calc() { awk "BEGIN { printf \"$1\", ($2) }"; }
# above A B: whether the number A is greater than B.
above() { [ "$(calc %d "$1 > $2")" = 1 ]; }

# build_bench TARGET...: builds the targets of bench/CMakeLists.txt in Release mode.
build_bench() {
    cmake -S bench -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "$@" >/dev/null
}

# make_input N: makes $data/de-en-Nx.txt, the dictionary N times, unless it
# is there and up to date.
#
# Each line "German :: English" becomes "German$English"; lines starting with
# '#' are comments and go. A line without " :: " would have no separator and
# is skipped. lexaro splits at the first '$', so a '$' in the German part
# (a handful of lines quote prices) is replaced by the full-width dollar
# sign U+FF04, which keeps the word whole.
make_input() {
    local base=$data/de-en-1x.txt file=$data/de-en-$1x.txt i
    mkdir -p "$data"
    if [ ! -s "$base" ] || [ "$dictionary" -nt "$base" ] || [ bench/lib.sh -nt "$base" ]; then
        echo "converting $dictionary"
        LC_ALL=C awk -v title="German-English dictionary (trans-de-en)" '
            BEGIN { print title }
            /^#/ { next }
            {
                i = index($0, " :: ")
                if (i == 0) { skipped++; next }
                word = substr($0, 1, i - 1)
                gsub(/\$/, "\357\274\204", word)
                print word "$" substr($0, i + 4)
            }
            END { if (skipped) printf "skipped %d lines without \" :: \"\n", skipped > "/dev/stderr" }
        ' "$dictionary" >"$base.new"
        mv "$base.new" "$base"
    fi
    [ "$1" = 1 ] && return 0
    if [ ! -s "$file" ] || [ "$base" -nt "$file" ]; then
        echo "making the $1x input"
        {
            head -n 1 "$base"
            for ((i = 0; i < $1; i++)); do tail -n +2 "$base"; done
        } >"$file.new"
        mv "$file.new" "$file"
    fi
}

# make_long_keys FILE: a source of 50 blocks of 100 entries (for `lexaro FILE
# 100`) whose first and last words have 450,000 bytes each, 45 MB of block
# keys in all; made unless FILE is there and up to date.
make_long_keys() {
    [ -s "$1" ] && [ "$1" -nt bench/lib.sh ] && return 0
    mkdir -p "$(dirname "$1")"
    awk 'BEGIN {
        pad = "k"
        while (length(pad) < 450000) pad = pad pad
        pad = substr(pad, 1, 450000)
        print "Long block keys"
        for (i = 0; i < 5000; i++)
            printf "%05d%s$t%d\n", i, (i % 100 == 0 || i % 100 == 99) ? pad : "", i
    }' >"$1.new"
    mv "$1.new" "$1"
}

# long_keys_rss MEASURE LEXARO: lexaro's peak resident memory, in KiB, on the
# make_long_keys source; fails unless the run leaves a database and no
# temporary file.
long_keys_rss() {
    local src=$data/long-keys.txt m
    make_long_keys "$src"
    rm -f "${src%.txt}.pdb"
    "$1" -o "$data/measure-keys.txt" -i "$data/stdout.txt" -- "$2" "$src" 100 || true
    m=$(<"$data/measure-keys.txt")
    [ "$(field status "$m")" = 0 ] || fail "lexaro ended with status $(field status "$m") on $src"
    [ -s "${src%.txt}.pdb" ] || fail "lexaro wrote no database from $src"
    [ ! -e "${src%.txt}.tmp" ] || fail "lexaro left ${src%.txt}.tmp behind"
    field maxrss_kib "$m"
}
