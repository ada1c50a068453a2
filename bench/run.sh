#!/usr/bin/env bash
# Times `kestrix-list` with subs and without against `du -s -b -l` on five generated trees
# (wide, deep, huge-dir, home, million) and on two slow shares of a small tree (through
# kestrix-slowfs, a FUSE layer that waits before every call, and through sshfs from an
# SFTP server one round trip away), and prints one table: median wall time of each, the
# ratios, those of a 16-thread floor probe beside them and kestrix-list's to the probe's,
# peak resident memory, and what the record of a scan costs per folder.
#
#   bench/run.sh [PATH-TO-kestrix-list]
#
# Environment:
#   KESTRIX_LIST       kestrix-list binary when no argument is given
#                      (default: ../build/release/kestrix-list, relative to this folder,
#                      or ../build/release/src/kestrix-list when only that one exists)
#   KESTRIX_GENTREE    kestrix-gentree binary (default: looked for next to kestrix-list,
#                      in bench/ beside or above it, in ../build/release/bench, then in PATH)
#   KESTRIX_RECORDSIZE kestrix-recordsize binary (looked for like kestrix-gentree)
#   KESTRIX_PROBE      kestrix-probe binary (looked for like kestrix-gentree)
#   KESTRIX_SLOWFS     kestrix-slowfs binary (looked for like kestrix-gentree); without it,
#                      or where FUSE cannot be mounted, the share is skipped with a line
#   KESTRIX_RELAY      the TCP relay that delays the SFTP share (default: the team's
#                      ../shared/tools/latency_relay.py beside the project's folder);
#                      without it, sshfs, socat, the SFTP server, python3
#                      or FUSE, the SFTP share is skipped with a line
#   BENCH_TREES        folder to keep the trees in and reuse on later runs; without it
#                      they are written to a temporary folder and removed at the end
#   BENCH_SHAPES       trees to run (default: "wide deep huge-dir home million share sftp";
#                      sftp is the share tree served over SFTP)
#   BENCH_ROUNDS       alternating rounds per tree (default 5)
#   BENCH_RUNS         timed runs of each command per round (default 2)
#   BENCH_WARMUP       warm-up runs of each command per round (default 2)
#   BENCH_RSS_RUNS     runs of each command for peak memory, the max is kept (default 3)
#   BENCH_COLD         1: also time with-subs runs on a cold cache, dropping the page cache
#                      before each (needs root; default 1 as root, else 0)
#   BENCH_COLD_ROUNDS  alternating cold rounds per tree, one run each (default 2)
#   BENCH_SHARE_ROUNDS alternating rounds on the share, one run each (default 3)
#   BENCH_SHARE_DELAY  microseconds the share waits before each call (default 300)
#   BENCH_SFTP_DELAY   microseconds the relay holds each chunk on its way to and from the
#                      SFTP server: half the round trip (default 500)
#   BENCH_PROBE_THREADS threads of the floor probe (default 16)
#   BENCH_RESULTS      folder to copy the hyperfine JSON files and the table into
#
# This builds nothing: build kestrix-list, kestrix-gentree, kestrix-recordsize,
# kestrix-probe and (for the share) kestrix-slowfs first.
# It is a measurement, so it exits 0 when targets are missed; it exits non-zero
# only when it cannot measure (missing tools, a command that fails).
set -euo pipefail

# Targets kestrix-list is measured against: time against du (warm cache, both modes,
# wide and deep a little looser; a cold cache no slower than du, and on home and million
# close to the floor probe on the same cold cache; on the share, both modes well below du
# and close to the probe), peak memory (less on trees of up to 100,000 folders), and the
# record's cost per folder beside the bytes of its name. On both shares and on a cold cache
# (home and million) kestrix-list takes at most max_probe_ratio times the probe's time.
max_ratio=0.5
max_ratio_narrow=0.52 # wide and deep
max_cold_ratio=1.0
max_probe_ratio=1.1
max_share_ratio=0.12
max_rss_mib=64
max_rss_small_mib=32
small_tree_folders=100000
max_bytes_per_folder=48

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# Mounting the shares (mount_share, mount_sftp, unmount_share).
# shellcheck source=bench/shares.sh
. "$here/shares.sh"

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

shapes="${BENCH_SHAPES:-wide deep huge-dir home million share sftp}"
rounds="${BENCH_ROUNDS:-5}"
runs="${BENCH_RUNS:-2}"
warmup="${BENCH_WARMUP:-2}"
rss_runs="${BENCH_RSS_RUNS:-3}"
if [ "$(id -u)" -eq 0 ]; then cold="${BENCH_COLD:-1}"; else cold="${BENCH_COLD:-0}"; fi
cold_rounds="${BENCH_COLD_ROUNDS:-2}"
share_rounds="${BENCH_SHARE_ROUNDS:-3}"
share_delay="${BENCH_SHARE_DELAY:-300}"
sftp_delay="${BENCH_SFTP_DELAY:-500}"
probe_threads="${BENCH_PROBE_THREADS:-16}"
for n in "$rounds" "$runs" "$rss_runs" "$cold_rounds" "$share_rounds" "$probe_threads"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || die "BENCH_ROUNDS, BENCH_RUNS, BENCH_RSS_RUNS, BENCH_COLD_ROUNDS, BENCH_SHARE_ROUNDS and BENCH_PROBE_THREADS must be positive integers"
done
[[ "$share_delay" =~ ^[0-9]+$ ]] || die "BENCH_SHARE_DELAY must be a non-negative integer"
[[ "$sftp_delay" =~ ^[0-9]+$ ]] || die "BENCH_SFTP_DELAY must be a non-negative integer"
if [ "$cold" = 1 ] && { [ "$(id -u)" -ne 0 ] || [ ! -w /proc/sys/vm/drop_caches ]; }; then
  die "BENCH_COLD=1 needs root, to drop the page cache"
fi
[[ "$warmup" =~ ^[0-9]+$ ]] || die "BENCH_WARMUP must be a non-negative integer"
for s in $shapes; do
  case "$s" in wide | deep | huge-dir | home | million | share | sftp) ;; *) die "unknown shape in BENCH_SHAPES: $s" ;; esac
done

command -v hyperfine >/dev/null 2>&1 || die "hyperfine is missing (scripts/install-deps.sh installs it)"
[ -x /usr/bin/time ] || die "/usr/bin/time (GNU time) is missing (scripts/install-deps.sh installs it)"
du_bin="$(command -v du)" || die "du is missing"

find_helper() { # find_helper NAME OVERRIDE
  if [ -n "$2" ]; then
    abs_path "$2"
    return
  fi
  local dir c
  dir="$(dirname "$list")"
  for c in "$dir/$1" "$dir/bench/$1" "$dir/../bench/$1" \
    "$here/../build/release/bench/$1" "$here/../build/release/$1"; do
    if [ -x "$c" ] && [ -f "$c" ]; then
      printf '%s\n' "$c"
      return
    fi
  done
  command -v "$1" 2>/dev/null || true
}

recordsize="$(find_helper kestrix-recordsize "${KESTRIX_RECORDSIZE:-}")"
if [ -z "$recordsize" ] || [ ! -x "$recordsize" ]; then
  die "kestrix-recordsize not found (build the kestrix-recordsize target, or set KESTRIX_RECORDSIZE)"
fi
probe="$(find_helper kestrix-probe "${KESTRIX_PROBE:-}")"
if [ -z "$probe" ] || [ ! -x "$probe" ]; then
  die "kestrix-probe not found (build the kestrix-probe target, or set KESTRIX_PROBE)"
fi
slowfs="$(find_helper kestrix-slowfs "${KESTRIX_SLOWFS:-}")"
relay="$(abs_path "${KESTRIX_RELAY:-$here/../../shared/tools/latency_relay.py}")"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kestrix-bench.XXXXXX")"
mount_point=""
slowfs_pid=""
sftp_pids=()
# shellcheck disable=SC2317  # called through the trap
cleanup() {
  unmount_share
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

# The tree a shape is measured on: the SFTP share shows the share tree.
tree_of() { # tree_of SHAPE
  if [ "$1" = sftp ]; then echo share; else echo "$1"; fi
}

gentree=""
for shape in $(for s in $shapes; do tree_of "$s"; done | awk '!seen[$0]++'); do
  tree="$trees/$shape"
  stats="$trees/$shape.stats"
  if [ -d "$tree" ] && [ -n "$(ls -A -- "$tree")" ]; then
    [ -f "$stats" ] || die "$tree exists without $stats; remove it to have it written again"
    echo "reusing $tree"
    continue
  fi
  if [ -z "$gentree" ]; then
    gentree="$(find_helper kestrix-gentree "${KESTRIX_GENTREE:-}")"
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

# Median run time of command NAME over the JSON files, and the ratio of two medians.
median_of() { # median_of NAME FILE...
  times_of "$@" | median
}
ratio_of() { # ratio_of A B
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "nan" }'
}

# Times the commands (NAME COMMAND pairs) in alternating rounds; prints the JSON files.
rounds_of() { # rounds_of PREFIX ROUNDS RUNS WARMUP PREPARE NAME CMD NAME CMD ...
  local prefix="$1" n="$2" per="$3" warm="$4" prepare="$5" r i
  shift 5
  local -a pairs=("$@") order prep=()
  [ -n "$prepare" ] && prep=(--prepare "$prepare")
  local count=$((${#pairs[@]} / 2))
  for ((r = 1; r <= n; r++)); do
    local json="$scratch/$prefix-round$r.json"
    # hyperfine runs all runs of one command before the next: rotate the order from
    # round to round so that every command sees the same conditions.
    order=()
    for ((i = 0; i < count; i++)); do
      local k=$(((i + r) % count))
      order+=(-n "${pairs[2 * k]}" "${pairs[2 * k + 1]}")
    done
    hyperfine -N --style basic --warmup "$warm" --runs "$per" "${prep[@]}" \
      --export-json "$json" "${order[@]}" >>"$log" 2>&1 || {
      tail -n 20 "$log" >&2
      return 1
    }
    printf '%s\n' "$json"
  done
}

# A share: the share tree through kestrix-slowfs (KIND share) or over SFTP (KIND sftp),
# kestrix-list in both modes, the probe and (on the FUSE share) du timed in alternating
# rounds of one run each; the lists made through the mount must be those of the tree under
# it. No memory or cold columns: the page cache is not the point.
measure_share() { # measure_share KIND TREE
  local kind="$1" tree="$2" jsons k_med n_med d_med=- p_med
  local mounted_ok=0
  if [ "$kind" = sftp ]; then mount_sftp "$tree" && mounted_ok=1; else mount_share "$tree" && mounted_ok=1; fi
  if [ "$mounted_ok" = 0 ]; then
    echo "skipping the $kind share: $share_why"
    rows+=("$kind|-|-|-|-|-|-|-|-|-|-|-|-|-|-|-|skipped: $share_why")
    return
  fi
  local m="$mount_point"
  local k_cmd n_cmd d_cmd p_cmd
  local -a timed
  k_cmd="$(q "$list") --with-subs -o $(q "$report") $(q "$m")"
  n_cmd="$(q "$list") -o $(q "$report.nosubs") $(q "$m")"
  d_cmd="$(q "$du_bin") -s -b -l $(q "$m")"
  p_cmd="$(q "$probe") --threads $probe_threads $(q "$m")"
  timed=(kestrix "$k_cmd" nosubs "$n_cmd" probe "$p_cmd")
  # du asks one thing at a time: over SFTP that is half a minute a run, and says nothing new.
  [ "$kind" = share ] && timed+=(du "$d_cmd")
  # The kernel keeps a share's names and attributes for a while: each run starts without
  # them (as root), so that no command is helped by the one run before it.
  local prepare=""
  [ "$(id -u)" -eq 0 ] && prepare="sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'"
  if ! jsons="$(rounds_of "$kind" "$share_rounds" 1 0 "$prepare" "${timed[@]}")"; then
    unmount_share
    rows+=("$kind|-|-|-|-|-|-|-|-|-|-|-|-|-|-|-|error: hyperfine failed")
    failed=1
    return
  fi
  unmount_share
  # The lists lower the paths' case, and both names are as long, so the columns line up:
  # with the mount's path put back to the tree's, the lists must be the same bytes.
  local same=same from to mode
  from="$(printf '%s' "${m#/}" | sed 's#[][\.*^$/]#\\&#g')"
  to="$(printf '%s' "${tree#/}" | sed 's#[][\.*^$/]#\\&#g')"
  for mode in with-subs no-subs; do
    local mounted="$report.nosubs" args=()
    if [ "$mode" = with-subs ]; then
      mounted="$report"
      args=(--with-subs)
    fi
    "$list" "${args[@]}" -o "$scratch/local.txt" "$tree" >/dev/null 2>&1 || same=error
    sed "s/$to/$to/Ig" "$scratch/local.txt" >"$scratch/local.cmp"
    sed "s/$from/$to/Ig" "$mounted" >"$scratch/mounted.cmp"
    cmp -s "$scratch/mounted.cmp" "$scratch/local.cmp" || same=differs
  done
  mapfile -t share_jsons <<<"$jsons"
  k_med="$(median_of kestrix "${share_jsons[@]}")"
  n_med="$(median_of nosubs "${share_jsons[@]}")"
  p_med="$(median_of probe "${share_jsons[@]}")"
  local r=- nr=- pr=- kp np verdict
  if [ "$kind" = share ]; then
    d_med="$(median_of du "${share_jsons[@]}")"
    r="$(ratio_of "$k_med" "$d_med")"
    nr="$(ratio_of "$n_med" "$d_med")"
    pr="$(ratio_of "$p_med" "$d_med")"
  fi
  kp="$(ratio_of "$k_med" "$p_med")"
  np="$(ratio_of "$n_med" "$p_med")"
  verdict="$(awk -v r="$r" -v n="$nr" -v kp="$kp" -v np="$np" -v s="$same" \
    -v mr="$max_share_ratio" -v mp="$max_probe_ratio" 'BEGIN {
    bad = ""
    if (r == "nan" || r + 0 > mr + 0 || kp == "nan" || kp + 0 > mp + 0) bad = "with subs"
    if (n == "nan" || n + 0 > mr + 0 || np == "nan" || np + 0 > mp + 0)
      bad = bad (bad == "" ? "" : ", ") "no subs"
    if (s != "same") bad = bad (bad == "" ? "" : ", ") "list"
    print (bad == "" ? "met" : "missed (" bad ")")
  }')"
  [ -n "${BENCH_RESULTS:-}" ] && mkdir -p -- "$BENCH_RESULTS" && cp -- "$scratch/$kind"-*.json "$BENCH_RESULTS/"
  rows+=("$kind|$k_med|$n_med|$d_med|$r|$nr|$pr|$kp|$np|-|-|-|-|-|-|$same|$verdict")
}

rows=()
failed=0
for shape in $shapes; do
  tree="$trees/$(tree_of "$shape")"
  stats="$trees/$(tree_of "$shape").stats"
  folders="$(stat_of "$stats" folders)"
  echo "measuring $shape ..."
  if [ "$shape" = share ] || [ "$shape" = sftp ]; then
    measure_share "$shape" "$tree"
    continue
  fi

  # Peak memory first, in both modes; these runs also warm the cache.
  if ! k_rss="$(peak_rss "$list" --with-subs -o "$report" "$tree")" ||
    ! k_rss_n="$(peak_rss "$list" -o "$report.nosubs" "$tree")"; then
    echo "run.sh: kestrix-list failed on $tree" >&2
    rows+=("$shape|-|-|-|-|-|-|-|-|-|-|-|-|-|-|-|error: kestrix-list failed")
    failed=1
    continue
  fi
  k_rss="$(awk -v a="$k_rss" -v b="$k_rss_n" 'BEGIN { print (a + 0 > b + 0 ? a : b) }')"
  d_rss="$(peak_rss "$du_bin" -s -b -l "$tree")" || die "du failed on $tree"
  per_folder="$("$recordsize" "$tree" | awk '$1 == "bytes_per_folder" { print $2 }')" ||
    die "kestrix-recordsize failed on $tree"

  # Sanity check: the with-subs report should hold the tree's total file size, written
  # plain or with its thousands grouped ("26158429060" or "26,158,429,060").
  expect="$(stat_of "$stats" file_bytes)"
  total=missing
  if [ -n "$expect" ] && grep -qE -- "(^|[^0-9.,])$(digits_pattern "$expect")([^0-9]|$)" "$report"; then
    total=found
  fi

  k_cmd="$(q "$list") --with-subs -o $(q "$report") $(q "$tree")"
  n_cmd="$(q "$list") -o $(q "$report.nosubs") $(q "$tree")"
  d_cmd="$(q "$du_bin") -s -b -l $(q "$tree")"
  p_cmd="$(q "$probe") --threads $probe_threads $(q "$tree")"
  if ! jsons="$(rounds_of "$shape" "$rounds" "$runs" "$warmup" "" \
    kestrix "$k_cmd" nosubs "$n_cmd" du "$d_cmd" probe "$p_cmd")"; then
    rows+=("$shape|-|-|-|-|-|-|-|-|-|-|-|$k_rss|$d_rss|$per_folder|$total|error: hyperfine failed")
    failed=1
    continue
  fi
  mapfile -t warm_jsons <<<"$jsons"
  k_med="$(median_of kestrix "${warm_jsons[@]}")"
  n_med="$(median_of nosubs "${warm_jsons[@]}")"
  d_med="$(median_of du "${warm_jsons[@]}")"
  p_med="$(median_of probe "${warm_jsons[@]}")"
  ratio="$(ratio_of "$k_med" "$d_med")"
  n_ratio="$(ratio_of "$n_med" "$d_med")"
  p_ratio="$(ratio_of "$p_med" "$d_med")"
  k_probe="$(ratio_of "$k_med" "$p_med")"
  n_probe="$(ratio_of "$n_med" "$p_med")"

  cold_ratio=-
  cold_probe=-
  cold_to_probe=-
  if [ "$cold" = 1 ]; then
    drop="sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'"
    if ! cold_jsons="$(rounds_of "$shape-cold" "$cold_rounds" 1 0 "$drop" \
      kestrix "$k_cmd" du "$d_cmd" probe "$p_cmd")"; then
      failed=1
    else
      mapfile -t cold_list <<<"$cold_jsons"
      cold_du="$(median_of du "${cold_list[@]}")"
      cold_k="$(median_of kestrix "${cold_list[@]}")"
      cold_p="$(median_of probe "${cold_list[@]}")"
      cold_ratio="$(ratio_of "$cold_k" "$cold_du")"
      cold_probe="$(ratio_of "$cold_p" "$cold_du")"
      cold_to_probe="$(ratio_of "$cold_k" "$cold_p")"
    fi
  fi
  if [ -n "${BENCH_RESULTS:-}" ]; then
    mkdir -p -- "$BENCH_RESULTS"
    cp -- "$scratch/$shape"-*.json "$BENCH_RESULTS/"
  fi

  rss_limit=$max_rss_mib
  [ "${folders:-0}" -le "$small_tree_folders" ] && rss_limit=$max_rss_small_mib
  warm_limit=$max_ratio
  case "$shape" in wide | deep) warm_limit=$max_ratio_narrow ;; esac
  probe_limit=0
  case "$shape" in home | million) probe_limit=$max_probe_ratio ;; esac
  verdict="$(awk -v r="$ratio" -v n="$n_ratio" -v c="$cold_ratio" -v cp="$cold_to_probe" \
    -v m="$k_rss" -v b="$per_folder" -v mr="$warm_limit" -v mc="$max_cold_ratio" \
    -v mp="$probe_limit" -v mm="$rss_limit" -v mb="$max_bytes_per_folder" 'BEGIN {
    bad = ""
    if (r == "nan" || r + 0 > mr + 0) bad = "with subs"
    if (n == "nan" || n + 0 > mr + 0) bad = bad (bad == "" ? "" : ", ") "no subs"
    if (c != "-" && (c == "nan" || c + 0 > mc + 0 || (mp > 0 && (cp == "nan" || cp + 0 > mp + 0))))
      bad = bad (bad == "" ? "" : ", ") "cold"
    if (m + 0 > mm + 0) bad = bad (bad == "" ? "" : ", ") "memory"
    if (b + 0 > mb + 0) bad = bad (bad == "" ? "" : ", ") "record"
    print (bad == "" ? "met" : "missed (" bad ")")
  }')"
  rows+=("$shape|$k_med|$n_med|$d_med|$ratio|$n_ratio|$p_ratio|$k_probe|$n_probe|$cold_ratio|$cold_probe|$cold_to_probe|$k_rss|$d_rss|$per_folder|$total|$verdict")
done

# --- table ------------------------------------------------------------------

table="$scratch/table.txt"
{
  echo
  echo "kestrix-list: $list"
  echo "median of $((rounds * runs)) runs each, $rounds alternating rounds; peak RSS = max of $rss_runs runs, both modes"
  echo "probe: kestrix-probe with $probe_threads threads beside them, its time to du's;" \
    "s/prb, n/prb: kestrix-list's time with subs and without to the probe's"
  [ "$cold" = 1 ] && echo "cold: with subs, page cache dropped before each run, median of $cold_rounds runs each;" \
    "cold and cprobe to du's, c/prb kestrix-list's to the probe's"
  case " $shapes " in *" share "*)
    echo "share: the share tree through kestrix-slowfs ($share_delay us before each call, no kernel caching), median of $share_rounds runs each" ;;
  esac
  case " $shapes " in *" sftp "*)
    echo "sftp: the share tree through sshfs (dir_cache=no) from an SFTP server $((2 * sftp_delay)) us away, median of $share_rounds runs each; no du" ;;
  esac
  echo "targets: ratio to du <= $max_ratio in both modes ($max_ratio_narrow on wide and deep), cold <= $max_cold_ratio" \
    "and on home and million <= $max_probe_ratio x the probe's;" \
    "share <= $max_share_ratio; share and sftp <= $max_probe_ratio x the probe's in both modes, lists as of the tree;" \
    "peak RSS <= $max_rss_mib MiB ($max_rss_small_mib MiB up to $small_tree_folders folders);" \
    "record <= $max_bytes_per_folder bytes per folder beside its name"
  echo
  printf '%-9s %9s %9s %8s %6s %6s %6s %6s %6s %6s %6s %6s %8s %7s %6s %6s  %s\n' \
    tree "subs s" "nosubs s" "du s" subs/du nosubs probe s/prb n/prb cold cprobe c/prb \
    "kx MiB" "du MiB" "B/fold" total targets
  for row in "${rows[@]}"; do
    IFS='|' read -r t k n d r nr p sp np c cp crp km dm b tot v <<<"$row"
    printf '%-9s %9s %9s %8s %6s %6s %6s %6s %6s %6s %6s %6s %8s %7s %6s %6s  %s\n' \
      "$t" "$k" "$n" "$d" "$r" "$nr" "$p" "$sp" "$np" "$c" "$cp" "$crp" "$km" "$dm" "$b" "$tot" "$v"
  done
  echo
  for shape in $(for s in $shapes; do tree_of "$s"; done | awk '!seen[$0]++'); do
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
