#!/usr/bin/env bash
# Installs the Debian packages one set of work needs, given as the argument:
#   build  building and running the two programs (the default)
#   test   the above and the test tools
#   bench  the above and the benchmark tools
# Idempotent: does nothing when every package is already there.
set -euo pipefail

set_name=${1:-build}

build=(
  build-essential cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-qpa-plugins fonts-dejavu-core fonts-urw-base35
  libsndfile1-dev libpulse-dev sound-theme-freedesktop xdg-utils
)
test=(
  pulseaudio pulseaudio-utils
  libgtest-dev googletest
  dpkg-dev file appstream appstream-compose desktop-file-utils
)
bench=(
  hyperfine time xvfb fuse3 libfuse3-dev
  sshfs socat openssh-sftp-server
)

case "$set_name" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  bench) packages=("${build[@]}" "${bench[@]}") ;;
  *)
    echo "install-deps: unknown set '$set_name' (build, test or bench)" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "install-deps: missing packages (${missing[*]}) and not root; install them and run again" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
