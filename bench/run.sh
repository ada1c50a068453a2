#!/usr/bin/env bash
# Times `kestrix-list --with-subs` against `du -s -b -l` on three generated trees
# (wide, deep, huge-dir) and prints one table: median wall time of each, their
# ratio, and the peak resident memory of each.
#
#   bench/run.sh [PATH-TO-kestrix-list]
#
# Environment:
#   KESTRIX_LIST     kestrix-list binary when no argument is given
#                    (default: ../build/release/kestrix-list, relative to this folder,
#                    or ../build/release/src/kestrix-list when only that one exists)
#   KESTRIX_GENTREE  kestrix-gentree binary (default: looked for next to kestrix-list,
#                    in bench/ beside or above it, in ../build/release/bench, then in PATH)
#   BENCH_TREES      folder to keep the trees in and reuse on later runs; without it
#                    they are written to a temporary folder and removed at the end
#   BENCH_SHAPES     trees to run (default: "wide deep huge-dir")
#   BENCH_ROUNDS     alternating rounds per tree (default 5)
#   BENCH_RUNS       timed runs of each command per round (default 2)
#   BENCH_WARMUP     warm-up runs of each command per round (default 2)
#   BENCH_RSS_RUNS   runs of each command for peak memory, the max is kept (default 3)
#   BENCH_RESULTS    folder to copy the hyperfine JSON files and the table into
#
# This builds nothing: build kestrix-list and kestrix-gentree first.
# It is a measurement, so it exits 0 when targets are missed; it exits non-zero
# only when it cannot measure (missing tools, a command that fails).
set -euo pipefail

# Targets kestrix-list is measured against.
max_ratio=1.0
max_rss_mib=64

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

die() {
  echo "run.sh: $*" >&2
  exit 2
}

abs_path() {
  local p="$1"
  case "$p" in
    /*) printf '%s\n' "$p" ;;
    *) printf '%s/%s\n' "$PWD" "$p" ;;
  esac
}

[ "$#" -le 1 ] || die "usage: run.sh [PATH-TO-kestrix-list]"
if [ "$#" -eq 1 ]; then
  list="$1"
elif [ -n "${KESTRIX_LIST:-}" ]; then
  list="$KESTRIX_LIST"
else
  list="$here/../build/release/kestrix-list"
  # without a runtime output folder set, CMake leaves it in the src/ build folder
  if [ ! -e "$list" ] && [ -e "$here/../build/release/src/kestrix-list" ]; then
    list="$here/../build/release/src/kestrix-list"
  fi
fi
list="$(abs_path "$list")"
if [ ! -f "$list" ] || [ ! -x "$list" ]; then
  die "kestrix-list not found or not executable: $list (build it, or pass its path / set KESTRIX_LIST)"
fi

shapes="${BENCH_SHAPES:-wide deep huge-dir}"
rounds="${BENCH_ROUNDS:-5}"
runs="${BENCH_RUNS:-2}"
warmup="${BENCH_WARMUP:-2}"
rss_runs="${BENCH_RSS_RUNS:-3}"
for n in "$rounds" "$runs" "$rss_runs"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || die "BENCH_ROUNDS, BENCH_RUNS and BENCH_RSS_RUNS must be positive integers"
done
[[ "$warmup" =~ ^[0-9]+$ ]] || die "BENCH_WARMUP must be a non-negative integer"
for s in $shapes; do
  case "$s" in wide | deep | huge-dir) ;; *) die "unknown shape in BENCH_SHAPES: $s" ;; esac
done

command -v hyperfine >/dev/null 2>&1 || die "hyperfine is missing (scripts/install-deps.sh installs it)"
[ -x /usr/bin/time ] || die "/usr/bin/time (GNU time) is missing (scripts/install-deps.sh installs it)"
du_bin="$(command -v du)" || die "du is missing"

find_gentree() {
  if [ -n "${KESTRIX_GENTREE:-}" ]; then
    abs_path "$KESTRIX_GENTREE"
    return
  fi
  local dir c
  dir="$(dirname "$list")"
  for c in "$dir/kestrix-gentree" "$dir/bench/kestrix-gentree" "$dir/../bench/kestrix-gentree" \
    "$here/../build/release/bench/kestrix-gentree" "$here/../build/release/kestrix-gentree"; do
    if [ -x "$c" ] && [ -f "$c" ]; then
      printf '%s\n' "$c"
      return
    fi
  done
  command -v kestrix-gentree 2>/dev/null || true
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kestrix-bench.XXXXXX")"
# shellcheck disable=SC2317  # called through the trap
cleanup() {
  # Generated trees live in $scratch unless BENCH_TREES was given.
  rm -rf -- "$scratch"
}
trap cleanup EXIT

if [ -n "${BENCH_TREES:-}" ]; then
  trees="$(abs_path "$BENCH_TREES")"
  mkdir -p -- "$trees"
else
  trees="$scratch/trees"
  mkdir -p -- "$trees"
fi

# --- trees ------------------------------------------------------------------

gentree=""
for shape in $shapes; do
  tree="$trees/$shape"
  stats="$trees/$shape.stats"
  if [ -d "$tree" ] && [ -n "$(ls -A -- "$tree")" ]; then
    [ -f "$stats" ] || die "$tree exists without $stats; remove it to have it written again"
    echo "reusing $tree"
    continue
  fi
  if [ -z "$gentree" ]; then
    gentree="$(find_gentree)"
    if [ -z "$gentree" ] || [ ! -x "$gentree" ]; then
      die "kestrix-gentree not found (build the kestrix-gentree target, or set KESTRIX_GENTREE)"
    fi
  fi
  echo "writing $shape tree into $tree ..."
  rm -f -- "$stats"
  "$gentree" "$shape" "$tree" >"$stats.tmp"
  mv -- "$stats.tmp" "$stats"
  awk '{ printf "  %s=%s", $1, $2 } END { print "" }' "$stats"
done

stat_of() { # stat_of FILE KEY
  awk -v k="$2" '$1 == k { print $2 }' "$1"
}

# --- measuring --------------------------------------------------------------

report="$scratch/report.txt"
log="$scratch/hyperfine.log"

# Quote one word for hyperfine's own command-line splitting (used with -N).
q() {
  printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# All run times of command NAME from hyperfine JSON files, one per line.
times_of() { # times_of NAME FILE...
  local name="$1"
  shift
  local f
  for f in "$@"; do
    tr -d ' \t\n\r' <"$f" | awk -v want="$name" '{
      n = split($0, parts, "\"command\":\"")
      for (i = 2; i <= n; i++) {
        p = parts[i]
        if (substr(p, 1, index(p, "\"") - 1) != want) continue
        t = index(p, "\"times\":[")
        if (t == 0) continue
        rest = substr(p, t + 9)
        rest = substr(rest, 1, index(rest, "]") - 1)
        m = split(rest, v, ",")
        for (j = 1; j <= m; j++) if (v[j] != "") print v[j]
      }
    }'
  done
}

# Extended regex matching the decimal number N with or without a separator
# between groups of three digits.
digits_pattern() { # digits_pattern N
  awk -v n="$1" 'BEGIN {
    head = length(n) % 3
    if (head == 0) head = 3
    out = substr(n, 1, head)
    for (i = head + 1; i <= length(n); i += 3) out = out "[,.'"'"' ]?" substr(n, i, 3)
    print out
  }'
}

median() {
  sort -g | awk '{ a[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) printf "%.4f\n", a[(NR + 1) / 2]
    else printf "%.4f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2
  }'
}

# Peak RSS in MiB over several runs; fails when the command fails.
peak_rss() { # peak_rss CMD...
  local max=0 kib i
  for ((i = 0; i < rss_runs; i++)); do
    /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null 2>"$scratch/rss.err" || {
      cat "$scratch/rss.err" >&2
      return 1
    }
    kib="$(tail -n 1 "$scratch/rss")"
    [ "$kib" -gt "$max" ] && max="$kib"
  done
  awk -v k="$max" 'BEGIN { printf "%.1f\n", k / 1024 }'
}

rows=()
failed=0
for shape in $shapes; do
  tree="$trees/$shape"
  stats="$trees/$shape.stats"
  echo "measuring $shape ..."

  # Peak memory first; these runs also warm the cache.
  if ! k_rss="$(peak_rss "$list" --with-subs -o "$report" "$tree")"; then
    echo "run.sh: kestrix-list failed on $tree" >&2
    rows+=("$shape|-|-|-|-|-|-|error: kestrix-list failed")
    failed=1
    continue
  fi
  d_rss="$(peak_rss "$du_bin" -s -b -l "$tree")" || die "du failed on $tree"

  # Sanity check: the report should contain the tree's total file size, written
  # plain or with its thousands grouped ("26158429060" or "26,158,429,060").
  expect="$(stat_of "$stats" file_bytes)"
  total=missing
  if [ -n "$expect" ] && grep -qE -- "(^|[^0-9.,])$(digits_pattern "$expect")([^0-9]|$)" "$report"; then
    total=found
  fi

  k_cmd="$(q "$list") --with-subs -o $(q "$report") $(q "$tree")"
  d_cmd="$(q "$du_bin") -s -b -l $(q "$tree")"
  jsons=()
  ok=1
  for ((r = 1; r <= rounds; r++)); do
    json="$scratch/$shape-round$r.json"
    jsons+=("$json")
    # hyperfine runs all runs of one command before the next: alternate which one
    # goes first from round to round so both see the same conditions.
    if ((r % 2)); then
      order=(-n kestrix "$k_cmd" -n du "$d_cmd")
    else
      order=(-n du "$d_cmd" -n kestrix "$k_cmd")
    fi
    if ! hyperfine -N --style basic --warmup "$warmup" --runs "$runs" \
      --export-json "$json" "${order[@]}" >>"$log" 2>&1; then
      tail -n 20 "$log" >&2
      ok=0
      break
    fi
  done
  if ((!ok)); then
    rows+=("$shape|-|-|-|$k_rss|$d_rss|$total|error: hyperfine failed")
    failed=1
    continue
  fi
  if [ -n "${BENCH_RESULTS:-}" ]; then
    mkdir -p -- "$BENCH_RESULTS"
    cp -- "${jsons[@]}" "$BENCH_RESULTS/"
  fi

  k_med="$(times_of kestrix "${jsons[@]}" | median)"
  d_med="$(times_of du "${jsons[@]}" | median)"
  ratio="$(awk -v k="$k_med" -v d="$d_med" 'BEGIN { if (d > 0) printf "%.2f\n", k / d; else print "nan" }')"
  verdict="$(awk -v r="$ratio" -v m="$k_rss" -v mr="$max_ratio" -v mm="$max_rss_mib" 'BEGIN {
    bad = ""
    if (r == "nan" || r + 0 > mr + 0) bad = "ratio"
    if (m + 0 > mm + 0) bad = bad (bad == "" ? "" : ", ") "memory"
    print (bad == "" ? "met" : "missed (" bad ")")
  }')"
  rows+=("$shape|$k_med|$d_med|$ratio|$k_rss|$d_rss|$total|$verdict")
done

# --- table ------------------------------------------------------------------

table="$scratch/table.txt"
{
  echo
  echo "kestrix-list: $list"
  echo "median of $((rounds * runs)) runs each, $rounds alternating rounds; peak RSS = max of $rss_runs runs"
  echo "targets: ratio kestrix/du <= $max_ratio and kestrix peak RSS <= $max_rss_mib MiB"
  echo
  printf '%-9s %11s %9s %7s %12s %8s %10s  %s\n' \
    tree "kestrix s" "du s" ratio "kestrix MiB" "du MiB" "root total" targets
  for row in "${rows[@]}"; do
    IFS='|' read -r t k d r km dm tot v <<<"$row"
    printf '%-9s %11s %9s %7s %12s %8s %10s  %s\n' "$t" "$k" "$d" "$r" "$km" "$dm" "$tot" "$v"
  done
  echo
  for shape in $shapes; do
    s="$trees/$shape.stats"
    [ -f "$s" ] || continue
    printf '%-9s %s folders, %s files (%s hard links), depth %s, %s bytes in files\n' "$shape" \
      "$(stat_of "$s" folders)" "$(stat_of "$s" files)" "$(stat_of "$s" hard_links)" \
      "$(stat_of "$s" max_depth)" "$(stat_of "$s" file_bytes)"
  done
} | tee "$table"
if [ -n "${BENCH_RESULTS:-}" ]; then
  mkdir -p -- "$BENCH_RESULTS"
  cp -- "$table" "$BENCH_RESULTS/table.txt"
  cp -- "$log" "$BENCH_RESULTS/hyperfine.log"
fi

exit "$failed"
