#!/usr/bin/env bash
# The project's test command: installs what a fresh Debian 12 machine lacks, configures,
# builds, and runs every test inside a fresh network namespace, so nothing the engine
# broadcasts can leave this machine's own namespace.
#   scripts/test.sh [--build-dir DIR] [--sanitize address,undefined|thread] [-- ctest args]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=$2; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

# shellcheck source=lib/deps.sh
. scripts/lib/deps.sh
fd_install_deps

cmake -S . -B "$build_dir" -G Ninja -DFD_SANITIZE="$sanitize"
cmake --build "$build_dir" -j "$(nproc)"

# Root can make a network namespace directly; others go through a user namespace.
ns=(unshare --net)
[ "$(id -u)" -eq 0 ] || ns=(unshare --net --map-root-user)
exec "${ns[@]}" -- sh -c 'ip link set lo up && exec ctest --test-dir "$0" --output-on-failure "$@"' \
  "$build_dir" "$@"
