#!/usr/bin/env bash
# The demonstration: on a Debian 12 machine, as root, installs what is missing, builds,
# makes a network lab with simulated devices, searches it with fielddesk-cli from the lab's
# PC side, prints the device table, and removes the lab again (also on failure or Ctrl-C).
# Nothing is sent on this machine's own network: everything runs in the lab's namespaces,
# whose addresses lie in 198.18.0.0/15.
#   scripts/demo.sh [--build-dir DIR] [--count N] [--seconds N] [-- fielddesk-cli search options]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
count=40
seconds=30
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 2000 ] ||
  { echo "--count takes 1..2000" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "the network lab needs root: run as root" >&2; exit 1; }

# shellcheck source=lib/deps.sh
. scripts/lib/deps.sh
fd_install_deps

cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target fielddesk-cli fielddesk-devsim >&2

lab="demo$$"
sim_pid=""
cleanup() {
  # Only the simulator this script started, by its id.
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  scripts/netlab destroy "$lab" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

scripts/netlab create "$lab" >/dev/null
bin=$(realpath "$build_dir/bin")
# The simulator adds its devices' addresses (198.18.1.1 on) to the devices' side itself and
# stops on its own a while after the search has ended.
scripts/netlab exec "$lab" dev -- "$bin/fielddesk-devsim" --count "$count" --seed 1 \
  --first-ip 198.18.1.1 --interface dev0 --duration $((seconds + 30)) &
sim_pid=$!
sleep 2
kill -0 "$sim_pid" 2>/dev/null || { echo "the simulator did not start" >&2; exit 1; }

echo "searching the lab for $seconds s ($count simulated devices)..." >&2
scripts/netlab exec "$lab" pc -- "$bin/fielddesk-cli" search --seconds "$seconds" "$@"
