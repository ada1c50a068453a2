#!/usr/bin/env bash
# Times what kestrix-list's sorting and counting options cost on the million tree (1,000
# folders each holding 999 folders), in one run, against the same list without them:
#   plain       kestrix-list [--with-subs] TREE
#   sort-size   ... --sort=size             (at most 1.10 x plain)
#   sort-name   ... --sort=name
#   links-once  ... --links=once
#   disk        ... --size=disk
# with subs and without, and checks that each sorted list holds the same lines.
#
#   bench/options.sh [PATH-TO-kestrix-list]
#
# Environment: KESTRIX_GENTREE (kestrix-gentree, looked for beside kestrix-list as run.sh
# does), BENCH_TREES (a folder to keep the tree in; without it, a temporary one),
# BENCH_RUNS (timed rounds, default 5). Exits 0 when the target is missed, as run.sh.
set -euo pipefail

max_sort_ratio=1.10

me=options.sh
source "$(dirname "${BASH_SOURCE[0]}")/findlist.sh"
runs="${BENCH_RUNS:-5}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
trees="${BENCH_TREES:-$work}"
tree="$trees/million"
[ -d "$tree" ] || "$gentree" million "$tree" >/dev/null

options=("plain|" "sort-size|--sort=size" "sort-name|--sort=name" "links-once|--links=once"
  "disk|--size=disk")
: >"$work/times"
for mode in with-subs no-subs; do
  subs=()
  [ "$mode" = with-subs ] && subs=(--with-subs)
  # Rounds with every command in turn, so that a change in the machine's load falls on
  # all of them alike; one warm-up round first.
  for round in $(seq 0 "$runs"); do
    for entry in "${options[@]}"; do
      name="${entry%%|*}"
      start=$(date +%s%N)
      "$list" "${subs[@]}" ${entry#*|} --format=tsv "$tree" >"$work/$name.tsv"
      end=$(date +%s%N)
      [ "$round" -eq 0 ] || echo "$mode $name $(((end - start) / 1000))" >>"$work/times"
    done
  done
  for name in sort-size sort-name; do
    cmp -s <(sort "$work/plain.tsv") <(sort "$work/$name.tsv") ||
      echo "note: $mode $name does not hold the lines of the plain list"
  done
done

python3 - "$work/times" "$max_sort_ratio" <<'PY'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    mode, name, micros = line.split()
    runs[mode, name].append(int(micros) / 1e6)
target = float(sys.argv[2])
print(f"{'mode':10} {'option':11} {'median s':>9} {'x plain':>8}")
for mode in ("with-subs", "no-subs"):
    plain = statistics.median(runs[mode, "plain"])
    for name in ("plain", "sort-size", "sort-name", "links-once", "disk"):
        median = statistics.median(runs[mode, name])
        ratio = median / plain
        flag = "  (over %.2f)" % target if name == "sort-size" and ratio > target else ""
        print(f"{mode:10} {name:11} {median:9.3f} {ratio:8.2f}{flag}")
PY
