#!/usr/bin/env bash
# Times `kestrix-list --compare` on the million tree (1,000 folders each holding 999
# folders) against writing a with-subs list of it, in one run, and prints the ratios and
# the peak memory of each comparison:
#   list     kestrix-list --with-subs -o LIST TREE
#   scan     kestrix-list --compare=EARLIER -o OUT TREE     (a new scan matched line by line)
#   lists    kestrix-list --compare=EARLIER -o OUT LATER    (two list files)
# EARLIER is a list of the tree before 10,000 of its folders got a file; LATER and the
# scans see them, so the comparison has 10,000 folders that grew and their parents.
#
#   bench/compare.sh [PATH-TO-kestrix-list]
#
# Environment: KESTRIX_GENTREE (kestrix-gentree, looked for beside kestrix-list as run.sh
# does), BENCH_TREES (a folder to keep the tree in; without it, a temporary one),
# BENCH_RUNS (timed rounds, default 5). Exits 0 when targets are missed, as run.sh.
set -euo pipefail

max_scan_ratio=1.5
max_lists_ratio=1.0
max_rss_base_mib=64
max_rss_bytes_per_folder=48

me=compare.sh
source "$(dirname "${BASH_SOURCE[0]}")/findlist.sh"
runs="${BENCH_RUNS:-5}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
trees="${BENCH_TREES:-$work}"
tree="$trees/million-compare"
if [ ! -d "$tree" ]; then
  "$gentree" million "$tree" >/dev/null
fi
# The changes between the two lists: a file of a few KiB in every hundredth folder,
# made after the earlier list and taken away at the end.
find "$tree" -mindepth 2 -maxdepth 2 -type d | sort | awk 'NR % 100 == 0' >"$work/changed"
remove_changes() { while IFS= read -r folder; do rm -f "$folder/kestrix-compare-file"; done <"$work/changed"; }
remove_changes # left over by a run that was stopped
"$list" --with-subs -o "$work/earlier.txt" "$tree"
while IFS= read -r folder; do head -c $((RANDOM % 8192 + 1)) /dev/zero >"$folder/kestrix-compare-file"; done <"$work/changed"
trap 'remove_changes; rm -rf "$work"' EXIT
"$list" --with-subs -o "$work/later.txt" "$tree"
folders=$(($(wc -l <"$work/later.txt") - 9))

# Rounds with the three commands in turn, so that a change in the machine's load falls
# on all of them alike; one warm-up round first.
commands=(
  "list|$list --with-subs -o $work/list.txt $tree"
  "scan|$list --compare=$work/earlier.txt -o $work/scan.txt $tree"
  "lists|$list --compare=$work/earlier.txt -o $work/lists.txt $work/later.txt"
)
: >"$work/times"
for round in $(seq 0 "$runs"); do
  for entry in "${commands[@]}"; do
    start=$(date +%s%N)
    ${entry#*|} || [ $? -eq 3 ] || { echo "compare.sh: failed: ${entry#*|}" >&2; exit 2; }
    end=$(date +%s%N)
    [ "$round" -eq 0 ] || echo "${entry%%|*} $(((end - start) / 1000))" >>"$work/times"
  done
done
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
rss_list=$(rss "$list" --with-subs -o "$work/list.txt" "$tree")
rss_scan=$(rss "$list" --compare="$work/earlier.txt" -o "$work/scan.txt" "$tree")
rss_lists=$(rss "$list" --compare="$work/earlier.txt" -o "$work/lists.txt" "$work/later.txt")
cmp -s "$work/scan.txt" "$work/lists.txt" || echo "note: the two comparisons differ"

python3 - "$work/times" "$folders" "$rss_list" "$rss_scan" "$rss_lists" \
  "$max_scan_ratio" "$max_lists_ratio" "$max_rss_base_mib" "$max_rss_bytes_per_folder" \
  "$(grep -c . "$work/lists.txt")" <<'PY'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    name, micros = line.split()
    runs[name].append(int(micros) / 1e6)
times = {name: statistics.median(values) for name, values in runs.items()}
folders = int(sys.argv[2]); rss = dict(zip(["list", "scan", "lists"], map(int, sys.argv[3:6])))
max_scan, max_lists, base, per = float(sys.argv[6]), float(sys.argv[7]), int(sys.argv[8]), int(sys.argv[9])
limit_kib = base * 1024 + per * folders / 1024
print(f"million tree: {folders:,} folders; comparison of {sys.argv[10]} lines")
print("| run | median | / list | peak memory |")
print("| --- | --- | --- | --- |")
for name in ("list", "scan", "lists"):
    print(f"| {name} | {times[name]:.3f} s | {times[name] / times['list']:.2f} | {rss[name] / 1024:.1f} MiB |")
ok = times["scan"] <= max_scan * times["list"] and times["lists"] <= max_lists * times["list"]
ok = ok and max(rss["scan"], rss["lists"]) <= limit_kib
print(f"targets: scan <= {max_scan} x list, lists <= {max_lists} x list, memory <= "
      f"{limit_kib / 1024:.1f} MiB ({base} MiB + {per} B a folder): {'met' if ok else 'MISSED'}")
PY
