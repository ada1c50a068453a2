# Sourced by the benchmark scripts that time one kestrix-list against itself: sets $here,
# $list (the first argument, KESTRIX_LIST, or the release build's) and $gentree
# (KESTRIX_GENTREE, or beside kestrix-list as run.sh looks for it), or exits 2 saying
# which is missing. $me names the script in the messages.
here="$(cd "$(dirname "${BASH_SOURCE[1]}")" && pwd)"
list="$(realpath "${1:-${KESTRIX_LIST:-$here/../build/release/src/kestrix-list}}")"
[ -x "$list" ] || { echo "$me: kestrix-list not found: $list" >&2; exit 2; }
gentree="${KESTRIX_GENTREE:-}"
for candidate in "$gentree" "$(dirname "$list")/../bench/kestrix-gentree" \
  "$here/../build/release/bench/kestrix-gentree"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then gentree="$candidate"; break; fi
done
[ -x "$gentree" ] || { echo "$me: kestrix-gentree not found (set KESTRIX_GENTREE)" >&2; exit 2; }
