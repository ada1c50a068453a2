#!/usr/bin/env bash
# Times `kestrix-list --compare=LIST -o OUT LIST`, a list compared with itself, on list
# files no scan writes but anyone can hand it: very deep paths, one very long path, many
# folders of one name, and a genuine list of the million tree beside them. Every list is
# of the lines for scripts (SIZE<TAB>PATH, LF ends), under the folder `t`:
#   deep20   with subs: `0 t`, then 20 paths of about 1 MB (500,000 one-letter levels,
#            `t/a/a/.../a/X`), the same but for their last name
#   long10m  with subs: `0 t`, then one path of 10 MB (5,000,000 levels)
#   names1m  without subs: 1,000,000 lines `1 t/X`, X one of the 62 letters and digits in
#            turn, so that every name stands some 16,000 times
#   deep4    with subs: `0 t`, then 4 paths of about 1 MB in one chain, each the one
#            before with 500 more levels: a reading whose time grows with the square of
#            the depth shows here
#   chain4k  with subs: a tree 4,000 levels deep as a list has it, a line for every
#            level (16 MB): time that grows with more than the list's size shows here
#   million  with subs: the million tree's shape (t/d0001/e0001, 1,000 folders each
#            holding 999), random sizes adding up, as the baseline
# and `million` again under `ulimit -v 100000`, too little for it: the run must end
# with status 1 and its message, not abort. Each run is cut off after BENCH_TIMEOUT
# seconds. Prints one row per case: the list's bytes, the seconds, the peak resident
# memory (GNU time; of a run cut off, only a floor), the exit status and the first line
# kestrix-list wrote on stderr (the last one under the limit).
#
#   bench/hostilelists.sh [PATH-TO-kestrix-list]
#
# Environment: BENCH_KEEP (a folder to keep the lists in and reuse; without it, a
# temporary one), BENCH_CASES (default: deep20 long10m names1m deep4 chain4k million
# ulimit),
# BENCH_TIMEOUT (seconds a run may take, default 300). Exits 0 whatever the runs gave.
set -euo pipefail

me=hostilelists.sh
source "$(dirname "${BASH_SOURCE[0]}")/findlist.sh"
cases="${BENCH_CASES:-deep20 long10m names1m deep4 chain4k million ulimit}"
limit="${BENCH_TIMEOUT:-300}"
vmem_kib=100000

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
lists="${BENCH_KEEP:-$work}"
mkdir -p "$lists"

# Writes the lists named that are not there yet, each to a temporary name first, so that
# a run stopped halfway leaves no list cut short behind.
make_lists() {
  python3 - "$lists" "$@" <<'PY'
import os, random, string, sys
folder, names = sys.argv[1], sys.argv[2:]

def deep(levels, last):
    return b"a/" * (levels - 1) + last

def deep20(out):
    out.write(b"0\tt\n")
    for last in b"bcdefghijklmnopqrstu":
        out.write(b"1\tt/" + deep(500_000, bytes([last])) + b"\n")

def long10m(out):
    out.write(b"0\tt\n1\tt/" + deep(5_000_000, b"a") + b"\n")

def names1m(out):
    chars = (string.ascii_letters + string.digits).encode()
    lines = [b"1\tt/" + chars[i % 62:i % 62 + 1] + b"\n" for i in range(1_000_000)]
    out.write(b"".join(lines))

def deep4(out):
    out.write(b"0\tt\n")
    for k in range(4):
        out.write(b"1\tt/" + deep(498_500 + 500 * k, b"a") + b"\n")

def chain4k(out):
    out.write(b"0\tt\n")
    for level in range(1, 4001):
        out.write(b"1\tt/" + deep(level, b"a") + b"\n")

def million(out):
    rng = random.Random(1)
    lines, total = [], 0
    for d in range(1, 1001):
        sizes = [rng.randrange(0, 1 << 20) * 4096 for _ in range(999)]
        subs = sum(sizes) + 4096
        total += subs
        lines.append(b"%d\tt/d%04d\n" % (subs, d))
        lines.extend(b"%d\tt/d%04d/e%04d\n" % (size, d, e) for e, size in enumerate(sizes, 1))
    out.write(b"%d\tt\n" % (total + 4096))
    out.write(b"".join(lines))

for name in names:
    path = os.path.join(folder, name + ".tsv")
    if os.path.exists(path):
        continue
    with open(path + ".part", "wb") as out:
        globals()[name](out)
    os.rename(path + ".part", path)
PY
}

# Runs kestrix-list on one list under GNU time and `timeout`, prefixed by whatever the
# caller puts before it (the memory limit), and prints the row.
row() {
  local name="$1" file="$2"
  shift 2
  local status=0
  "$@" /usr/bin/time -f '%e %M %x' -o "$work/time" timeout -k 10 "$limit" \
    "$list" --compare="$file" -o "$work/out" "$file" 2>"$work/stderr" >/dev/null || status=$?
  python3 - "$name" "$(stat -c %s "$file")" "$work/time" "$work/stderr" "$status" "$limit" <<'PY'
import sys
name, size, timing, stderr, status, limit = sys.argv[1], int(sys.argv[2]), *sys.argv[3:]
lines = open(timing, errors="replace").read().split("\n")
seconds, kib, _ = [line for line in lines if line][-1].split()
status = int(status)
for line in lines:  # GNU time says when the command was ended by a signal
    if line.startswith("Command terminated by signal"):
        status = 128 + int(line.split()[-1])
said = [line.strip() for line in
        open(stderr, "rb").read().decode(errors="replace").replace("\r", "\n").split("\n")]
said = [line for line in said if line]
shown = f"timeout ({limit} s)" if status == 124 else str(status)
first = said[0] if said else "-"
last = said[-1] if said else "-"
note = first if name != "million ulimit" else last
if len(note) > 160:
    note = note[:157] + "..."
# A run cut off may leave its second process to be reaped by another: only a floor then.
peak = f"{'>=' if status == 124 else ''}{int(kib) / 1024:.1f}"
print(f"| {name} | {size:,} | {seconds} | {peak} | {shown} | {note} |", flush=True)
PY
}

limited() { (ulimit -v "$vmem_kib" && "$@"); }

needed=()
for name in $cases; do
  case "$name" in
    deep20 | long10m | names1m | deep4 | chain4k | million) ;;
    ulimit) name=million ;;
    *) echo "$me: no such case: $name" >&2; exit 2 ;;
  esac
  needed+=("$name")
done
start=$(date +%s%N)
# shellcheck disable=SC2046
make_lists $(printf '%s\n' "${needed[@]}" | sort -u)
end=$(date +%s%N)
echo "lists in $lists, written in $(((end - start) / 1000000)) ms; each run cut off after $limit s"
echo "| case | bytes | elapsed s | peak MiB | status | stderr (first line) |"
echo "| --- | --- | --- | --- | --- | --- |"
for name in $cases; do
  if [ "$name" = ulimit ]; then
    row "million ulimit" "$lists/million.tsv" limited
  else
    row "$name" "$lists/$name.tsv"
  fi
done
case " $cases " in
  *" ulimit "*) echo "(million ulimit: under ulimit -v $vmem_kib, with the last line of stderr)" ;;
esac
