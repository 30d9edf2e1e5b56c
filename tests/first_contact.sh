#!/bin/bash
# A new user's first steps, end to end, on a freshly bootstrapped minimal
# Debian (debootstrap --variant=minbase), from the README's preparatory line
# to an installed package:
#
#   root   the preparatory line, then make demo and make test as root, which
#          install the packages; make package
#   sudo   a user with sudo: sudo make demo (which installs the packages),
#          then make test without sudo, sudo make test, make clean, make
#          install without and with sudo (whatis finds the pages at once),
#          make package; nothing in the clone may become root's
#   plain  a user on a machine without sudo: make demo stops with the missing
#          packages and the command to install them; with the programs'
#          packages alone make demo works and make test stops; root runs the
#          command that make test gives; then make test and make demo work
#   deb    a fresh system: apt-get install ./lexaro_*.deb, then lexaro,
#          lexaro-dump, man lexaro and apropos lexaro work
#
# Every step runs on a terminal, as a person would see it, and each line is
# shown with its time. The steps of this project's commands are judged: a
# silence longer than MAX_SILENCE seconds (default 5) must follow a line that
# says what is happening, and no line may read like an error. At the end a
# table gives each step's time and its longest silence.
#
#   tests/first_contact.sh [--keep] [FOLDER]
#
# Needs root, Debian's mirror (DEBIAN_MIRROR), about 3 GB in a new folder in
# FOLDER (default /var/tmp) and about 15 minutes. It checks the committed
# HEAD of this clone. The new folder is removed at the end unless --keep is
# given. Not part of make test or CI.
set -euo pipefail
shopt -s extglob

keep=
if [ "${1:-}" = --keep ]; then
    keep=yes
    shift
fi
source_tree=$(cd "$(dirname "$0")/.." && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
max_silence=${MAX_SILENCE:-5}
suite=bookworm

# Lines after which a longer silence is fine, because they say what is
# happening: the package install, cmake, the compiler, the tests, cpack.
announcing='takes a minute or so|^  (reading|downloading|unpacking)|^configuring .* with cmake|^\[ *[0-9]+%\] (Building|Linking)|^ *Start +[0-9]+:|^ *[0-9]+/[0-9]+ Test +#|^packing .* with cpack|^installing into|^refreshing the manual index'
# Lines that read like an error.
alarming='debconf|^[EWN]: |\b(error|warning):|\*\*\*|Permission denied'

[ "$(id -u)" = 0 ] || { echo "first_contact.sh: needs root (debootstrap, chroot, mount)" >&2; exit 1; }
"$source_tree/scripts/ensure-packages" debootstrap bsdutils util-linux mount git
work=$(mktemp -d "${1:-/var/tmp}/first-contact.XXXXXX")
results=$work/results.txt
: >"$results"
failures=0

fail() {
    echo "FAILED: $*" | tee -a "$results"
    failures=$((failures + 1))
}

# --- systems ----------------------------------------------------------------

systems=()

# A fresh copy of the bootstrapped system, with /proc and /dev mounted.
new_system() {
    local root=$work/$1
    cp -a "$work/base" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
    systems+=("$root")
}

# Unmounts a system and, unless --keep was given, removes it.
remove_system() {
    local root=$1
    [ -d "$root" ] || return 0
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        umount -R "$root/dev" "$root/proc" 2>/dev/null || umount -lR "$root/dev" "$root/proc" || true
    fi
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "first_contact.sh: $root still has mounts; not removing it" >&2
        return 0
    fi
    [ -n "$keep" ] || rm -rf --one-file-system "$root"
}

cleanup() {
    local root
    for root in "${systems[@]}"; do remove_system "$root"; done
    findmnt -rn -o TARGET | grep -q "^$work/" || [ -n "$keep" ] || rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# --- running steps ----------------------------------------------------------

# run SYSTEM USER JUDGED COMMAND: runs COMMAND in a login shell of USER in
# SYSTEM, on a terminal, printing each line with the seconds since the start
# and since the line before. Judged steps (yes) must keep the rules above.
# Leaves the output in $output and returns the command's status.
output=
run() {
    local root=$work/$1 user=$2 judged=$3 command=$4
    local step="$1, $user: $command"
    printf '#!/bin/bash\n%s\n' "$command" >"$root/tmp/step.sh"
    chmod 755 "$root/tmp/step.sh"
    echo
    echo "=== $step"
    local log=$work/step.log start last now line previous="(the start)" status
    local longest=0 longest_after="" gap
    start=${EPOCHREALTIME/./}
    last=$start
    : >"$log"
    while IFS= read -r line; do
        line=${line%$'\r'}
        line=${line//$'\e'\[*([0-9;])m/}
        now=${EPOCHREALTIME/./}
        gap=$(((now - last) / 100000))
        printf '%5d.%d %+4d.%d | %s\n' $(((now - start) / 1000000)) $(((now - start) / 100000 % 10)) \
            $((gap / 10)) $((gap % 10)) "$line"
        printf '%s\n' "$line" >>"$log"
        if [ "$gap" -gt "$longest" ]; then longest=$gap longest_after=$previous; fi
        if [ "$judged" = yes ] && [ "$gap" -gt $((max_silence * 10)) ] && ! grep -Eq "$announcing" <<<"$previous"; then
            fail "$step: silent for $((gap / 10)).$((gap % 10)) s after: $previous"
        fi
        last=$now
        previous=$line
    done < <(script -qefc "chroot $root runuser -l $user -c /tmp/step.sh; echo \"exit status \$?\"" /dev/null)
    output=$(cat "$log")
    status=$(sed -n 's/^exit status //p' "$log" | tail -n 1)
    now=${EPOCHREALTIME/./}
    if [ "$judged" = yes ]; then
        while IFS= read -r line; do
            fail "$step: a line that reads like an error: $line"
        done < <(grep -v '^exit status' "$log" | grep -Ei "$alarming" || true)
    fi
    printf '%-60s %6.1f s, longest silence %4.1f s after: %s\n' "$step" \
        "$(((now - start) / 1000))e-3" "$longest"e-1 "${longest_after:0:70}" >>"$results"
    return "${status:-1}"
}

# expect SYSTEM USER JUDGED COMMAND: run, and fail the check if it fails.
expect() {
    run "$@" || fail "$1, $2: $4: exit status $?"
}

# No file in the clone of USER in SYSTEM may belong to anyone but USER.
owned_by_user() {
    local root=$work/$1 user=$2 strangers
    strangers=$(chroot "$root" find "/home/$user/lexaro" ! -user "$user" | head -n 5)
    [ -z "$strangers" ] || fail "$1: files in $user's clone that are not $user's after $3: $strangers"
}

# --- the steps ----------------------------------------------------------------

preparation=$(grep -m 1 '^apt-get update && apt-get install' "$source_tree/README.md") ||
    { echo "first_contact.sh: no preparatory apt-get line in README.md" >&2; exit 1; }
git -C "$source_tree" bundle create "$work/lexaro.bundle" HEAD
clone="git clone -q /tmp/lexaro.bundle lexaro"

echo "bootstrapping a minimal Debian $suite into $work/base (a minute or so)"
debootstrap --variant=minbase "$suite" "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log"; exit 1; }
cp "$work/lexaro.bundle" "$work/base/tmp/"
echo "127.0.1.1 $(hostname)" >>"$work/base/etc/hosts"

# root: the preparatory line, then the two commands as root, then the package.
new_system root
expect root root no "$preparation"
expect root root no "$clone"
expect root root yes "cd lexaro && make demo"
expect root root yes "cd lexaro && make test"
expect root root yes "cd lexaro && make package"
cp "$work"/root/root/lexaro/lexaro_*.deb "$work/" || fail "root: make package wrote no lexaro_*.deb"
remove_system "$work/root"

# sudo: a user who has sudo, in a clone of their own.
new_system sudo
expect sudo root no "$preparation && apt-get install -y -q sudo && useradd -m -s /bin/bash ada &&
    echo 'ada ALL=(ALL) NOPASSWD: ALL' >/etc/sudoers.d/ada"
expect sudo ada no "$clone"
expect sudo ada yes "cd lexaro && sudo make demo"
owned_by_user sudo ada "sudo make demo"
expect sudo ada yes "cd lexaro && make test"
expect sudo ada yes "cd lexaro && sudo make test"
owned_by_user sudo ada "sudo make test"
expect sudo ada yes "cd lexaro && make clean >/dev/null && git status --short --ignored"
[ -z "$(grep -v '^exit status' <<<"$output")" ] || fail "sudo: make clean left: $output"
if run sudo ada no "cd lexaro && make install"; then
    fail "sudo: make install without root did not stop"
fi
grep -q "sudo make install" <<<"$output" || fail "sudo: make install without root does not say to use sudo"
grep -q "Building" <<<"$output" && fail "sudo: make install without root built before it stopped"
expect sudo ada yes "cd lexaro && sudo make install && whatis lexaro lexaro-dump && lexaro-dump --help | head -n 1"
grep -q "^lexaro (1)" <<<"$output" || fail "sudo: whatis does not find lexaro after make install"
owned_by_user sudo ada "sudo make install"
expect sudo ada yes "cd lexaro && sudo make package && ls -l lexaro_*.deb"
owned_by_user sudo ada "sudo make package"
remove_system "$work/sudo"

# plain: a user on a machine without sudo.
new_system plain
expect plain root no "$preparation && useradd -m -s /bin/bash bob"
expect plain bob no "$clone"
if run plain bob no "cd lexaro && make demo"; then
    fail "plain: make demo without the packages did not stop"
fi
grep -q "^missing packages: cmake g++ zlib1g-dev libminizip-dev$" <<<"$output" || fail "plain: make demo does not name the missing packages"
grep -q "^install them as root with: apt-get update && apt-get install .*libgtest-dev" <<<"$output" ||
    fail "plain: make demo does not give the command that installs all the packages"
grep -q sudo <<<"$output" && fail "plain: make demo suggests sudo, which this machine does not have"
# With the programs' packages alone, make demo works and make test stops.
expect plain root no "apt-get install -y -q cmake g++ zlib1g-dev libminizip-dev >/dev/null"
expect plain bob yes "cd lexaro && make demo"
if run plain bob no "cd lexaro && make test"; then
    fail "plain: make test without GoogleTest did not stop"
fi
install_line=$(sed -n 's/^install them as root with: //p' <<<"$output")
[ -n "$install_line" ] || fail "plain: make test does not say how to install the packages"
expect plain root no "yes | { $install_line; }"
expect plain bob yes "cd lexaro && make test"
expect plain bob yes "cd lexaro && make demo"
remove_system "$work/plain"

# deb: the package on a fresh system.
new_system deb
cp "$work"/lexaro_*.deb "$work/deb/root/"
expect deb root no "apt-get update -q && apt-get install -y -q ./lexaro_*.deb"
expect deb root no "lexaro; lexaro-dump --help | head -n 1; man lexaro | grep -A 1 '^NAME'; apropos lexaro"
grep -q "^usage: lexaro filename" <<<"$output" || fail "deb: lexaro does not run"
grep -q "^usage: lexaro-dump" <<<"$output" || fail "deb: lexaro-dump does not run"
grep -q "lexaro - " <<<"$output" || fail "deb: man lexaro does not show the page"
grep -q "^lexaro-dump (1)" <<<"$output" || fail "deb: apropos lexaro does not find lexaro-dump"
remove_system "$work/deb"

echo
echo "=== $(basename "$0"): time and longest silence of each step"
cat "$results"
[ -z "$keep" ] || echo "the systems are kept in $work"
if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "all passed"
