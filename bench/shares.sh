# Mounting and unmounting the slow shares bench/run.sh lists, sourced by it: the share tree
# through kestrix-slowfs, and over SFTP through a delaying relay. Uses run.sh's settings
# ($slowfs, $share_delay, $relay, $sftp_delay, $scratch) and sets $mount_point, or
# $share_why when the share cannot be had here.
# shellcheck shell=bash disable=SC2154,SC2034

# Shows TREE through kestrix-slowfs at a mount point beside it whose name is as long as
# the tree's, so that the lists of the two line up column for column. Prints nothing and
# fails with the reason in $share_why when FUSE cannot be mounted here.
share_why=""
mount_share() { # mount_share TREE
  local tree="$1" i
  if [ -z "$slowfs" ] || [ ! -x "$slowfs" ]; then
    share_why="kestrix-slowfs is not built (libfuse3 missing when it was configured?)"
    return 1
  fi
  if [ ! -e /dev/fuse ]; then
    share_why="/dev/fuse is missing"
    return 1
  fi
  if [ "$(id -u)" -ne 0 ] && ! command -v fusermount3 >/dev/null 2>&1; then
    share_why="fusermount3 is missing (package fuse3)"
    return 1
  fi
  mount_point="$(dirname "$tree")/mount"
  mkdir -p -- "$mount_point"
  "$slowfs" --foreground --no-cache --delay-us "$share_delay" "$tree" "$mount_point" \
    2>"$scratch/slowfs.err" &
  slowfs_pid=$!
  for ((i = 0; i < 100; i++)); do
    if mountpoint -q -- "$mount_point"; then
      return 0
    fi
    kill -0 "$slowfs_pid" 2>/dev/null || break
    sleep 0.1
  done
  share_why="mounting failed: $(tr '\n' ' ' <"$scratch/slowfs.err")"
  unmount_share
  return 1
}

unmount_share() {
  if [ -n "$mount_point" ] && mountpoint -q -- "$mount_point" 2>/dev/null; then
    fusermount3 -u -- "$mount_point" 2>/dev/null || umount -- "$mount_point" 2>/dev/null || true
  fi
  local pid
  for pid in $slowfs_pid "${sftp_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$mount_point" ]; then
    rmdir -- "$mount_point" 2>/dev/null || true
  fi
  mount_point=""
  slowfs_pid=""
  sftp_pids=()
}

# A free TCP port on the loopback interface.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Shows TREE through sshfs at a mount point beside it (named as long as the tree, as the
# share's): an SFTP server on a loopback port (socat starts one per connection), and the
# relay between it and sshfs holding everything BENCH_SFTP_DELAY microseconds each way.
# Fails with the reason in $share_why when that cannot be had here.
mount_sftp() { # mount_sftp TREE
  local tree="$1" i server="" c server_port relay_port
  for c in /usr/lib/openssh/sftp-server /usr/lib/sftp-server; do
    [ -x "$c" ] && server="$c" && break
  done
  for c in sshfs socat python3; do
    if ! command -v "$c" >/dev/null 2>&1; then
      share_why="$c is missing (scripts/install-deps.sh bench installs it)"
      return 1
    fi
  done
  if [ -z "$server" ]; then
    share_why="the SFTP server is missing (package openssh-sftp-server)"
    return 1
  fi
  if [ ! -f "$relay" ]; then
    share_why="the relay $relay is missing"
    return 1
  fi
  if [ ! -e /dev/fuse ]; then
    share_why="/dev/fuse is missing"
    return 1
  fi
  if ! server_port="$(free_port)" || ! relay_port="$(free_port)"; then
    share_why="no free loopback port"
    return 1
  fi
  socat "TCP-LISTEN:$server_port,bind=127.0.0.1,reuseaddr,fork,nodelay" "EXEC:$server" \
    2>"$scratch/socat.err" &
  sftp_pids+=($!)
  python3 "$relay" "$relay_port" "$server_port" "$sftp_delay" 2>"$scratch/relay.err" &
  sftp_pids+=($!)
  mount_point="$(dirname "$tree")/sftpm"
  mkdir -p -- "$mount_point"
  for ((i = 0; i < 50; i++)); do # until the relay listens
    sshfs -o "directport=$relay_port,dir_cache=no" "127.0.0.1:$tree" "$mount_point" \
      2>"$scratch/sshfs.err" && mountpoint -q -- "$mount_point" && return 0
    sleep 0.1
  done
  share_why="mounting failed: $(cat "$scratch/sshfs.err" "$scratch/socat.err" "$scratch/relay.err" | tr '\n' ' ')"
  unmount_share
  return 1
}

