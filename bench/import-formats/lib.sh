# Shared by the scripts beside it (sourced, not run).
# timed_import NAME INPUT_BYTES ARGS...: runs the lexaro-import in $import
# with ARGS, its summary into $data/NAME.summary, and prints the line
# "NAME INPUT_MB SECONDS PEAK_MIB ENTRIES_WRITTEN".
timed_import() {
    local name=$1 bytes=$2 seconds kib entries
    shift 2
    /usr/bin/time -f '%e %M' -o "$data/$name.time" "$import" "$@" 2>"$data/$name.summary"
    read -r seconds kib <"$data/$name.time"
    entries=$(sed -n 's/^  words written: *//p' "$data/$name.summary")
    awk -v n="$name" -v b="$bytes" -v s="$seconds" -v k="$kib" -v e="$entries" \
        'BEGIN { printf "%s %.1f %s %.0f %s\n", n, b / 1e6, s, k / 1024, e }'
}
