#!/usr/bin/env bash
# Times listing runs made in the program's main window against `kestrix-list` on the
# same generated tree, in both modes, next to `du -s -b -l`, and prints one table: the
# median seconds of each, the window/kestrix-list ratio, the du ratios, and the longest
# time an event (a click on Abort, say) waited during a window run.
#
#   bench/window.sh [PATH-TO-kestrix-list]
#
# kestrix-gentree and kestrix-windowbench are looked for beside kestrix-list's build
# folder (../bench/). The window runs on a private Xvfb display when Xvfb is installed,
# so that painting reaches a real X server; otherwise on Qt's offscreen platform.
#
# Environment:
#   BENCH_TREES          folder to keep the trees in and reuse (default: a temporary one)
#   BENCH_WINDOW_SHAPES  trees to run (default: "nested huge-dir")
#   BENCH_ROUNDS         rounds per tree and mode (default 3)
#   BENCH_RUNS           timed runs of each command per round (default 3)
#
# A measurement: it exits 0 when the target (window <= 1.2 x kestrix-list) is missed,
# and non-zero only when it cannot measure.
set -euo pipefail

max_ratio=1.2
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
die() {
  echo "window.sh: $*" >&2
  exit 2
}

list="$(realpath "${1:-$here/../build/release/src/kestrix-list}")"
bin="$(dirname "$list")/../bench"
gentree="$bin/kestrix-gentree"
windowbench="$bin/kestrix-windowbench"
for tool in "$list" "$gentree" "$windowbench"; do
  [ -x "$tool" ] || die "$tool not found (build the release tree first)"
done
command -v hyperfine >/dev/null || die "hyperfine is missing (scripts/install-deps.sh installs it)"
shapes="${BENCH_WINDOW_SHAPES:-nested huge-dir}"
rounds="${BENCH_ROUNDS:-3}"
runs="${BENCH_RUNS:-3}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kestrix-window.XXXXXX")"
xvfb_pid=""
# shellcheck disable=SC2317  # called through the trap
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf -- "$scratch"
}
trap cleanup EXIT
trees="${BENCH_TREES:-$scratch/trees}"
mkdir -p -- "$trees"
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime" LC_ALL=C

if command -v Xvfb >/dev/null; then
  exec {display_fd}<> <(:)
  Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t 10 display <&"$display_fd" || die "Xvfb did not start: $(cat "$scratch/xvfb.log")"
  export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
  platform="xcb on Xvfb :$display"
else
  export QT_QPA_PLATFORM=offscreen
  platform="offscreen (no Xvfb)"
fi

median() {
  sort -g | awk '{ a[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    printf "%.4f\n", (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
# The run times of one command in hyperfine's JSON export, one per line.
times_of() { # times_of NAME FILE
  tr -d ' \n' <"$2" | grep -o "\"command\":\"$1\"[^]]*" | sed 's/.*"times":\[//' | tr ',' '\n'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "nan" }'; }

rows=()
for shape in $shapes; do
  tree="$trees/$shape"
  if [ ! -d "$tree" ]; then
    echo "writing $shape tree into $tree ..."
    "$gentree" "$shape" "$tree" >/dev/null
  fi
  for mode in with-subs no-subs; do
    echo "measuring $shape, $mode ..."
    flag=()
    [ "$mode" = with-subs ] && flag=(--with-subs)
    : >"$scratch/list.times"
    : >"$scratch/du.times"
    : >"$scratch/window.times"
    longest=0
    for ((r = 1; r <= rounds; r++)); do
      hyperfine -N --style none --warmup 1 --runs "$runs" --export-json "$scratch/h.json" \
        -n list "$list ${flag[*]} -o $scratch/list.txt $tree" \
        -n du "du -s -b -l $tree" >/dev/null 2>&1 || die "hyperfine failed on $tree"
      times_of list "$scratch/h.json" >>"$scratch/list.times"
      times_of du "$scratch/h.json" >>"$scratch/du.times"
      "$windowbench" "$mode" "$tree" "$scratch/window.txt" "$runs" >"$scratch/window.out" ||
        die "the window run failed on $tree"
      awk '$1 == "run" { print $2 }' "$scratch/window.out" >>"$scratch/window.times"
      longest="$(awk -v l="$longest" '$1 == "run" && $4 > l { l = $4 } END { print l }' \
        "$scratch/window.out")"
    done
    # Both wrote the same list (the dates are the same day).
    same=same
    cmp -s "$scratch/list.txt" "$scratch/window.txt" || same=DIFFERENT
    w="$(median <"$scratch/window.times")"
    l="$(median <"$scratch/list.times")"
    d="$(median <"$scratch/du.times")"
    wl="$(ratio "$w" "$l")"
    met="$(awk -v r="$wl" -v m="$max_ratio" 'BEGIN { print (r != "nan" && r + 0 <= m + 0) ? "met" : "missed" }')"
    rows+=("$shape|$mode|$w|$l|$d|$wl|$(ratio "$l" "$d")|$(ratio "$w" "$d")|$longest|$same|$met")
  done
done

echo
echo "window: $platform; median of $((rounds * runs)) runs each, warm cache"
echo "target: window/list <= $max_ratio; 'longest wait' is the longest an event waited in a window run"
echo
printf '%-9s %-9s %9s %9s %9s %11s %8s %10s %14s %6s  %s\n' tree mode "window s" "list s" "du s" \
  window/list list/du window/du "longest wait" lists target
for row in "${rows[@]}"; do
  IFS='|' read -r t m w l d wl ld wd lw same met <<<"$row"
  printf '%-9s %-9s %9s %9s %9s %11s %8s %10s %11s ms %6s  %s\n' "$t" "$m" "$w" "$l" "$d" "$wl" \
    "$ld" "$wd" "$lw" "$same" "$met"
done
