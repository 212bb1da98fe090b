#!/usr/bin/env bash
# The demonstration, for any user on a Debian 12 machine: installs what is missing (the only
# step that needs root, through sudo), builds, makes a network lab with simulated devices in
# a sandbox of its own (scripts/netlab shell), searches it with fielddesk-cli from the lab's
# PC side with a live count, prints the device table as soon as no new device has answered
# for a few seconds (--seconds is the upper bound), and ends the sandbox and everything in it.
# Nothing is sent on this machine's own network: the lab's addresses lie in 198.18.0.0/15.
#   scripts/demo.sh [--build-dir DIR] [--count N] [--seconds N] [-- fielddesk-cli search options]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
count=40
seconds=15
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --in-lab) shift; break ;;  # internal: the second half, inside the sandbox
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 2000 ] ||
  { echo "--count takes 1..2000" >&2; exit 2; }
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 3 ] && [ "$seconds" -le 3600 ] ||
  { echo "--seconds takes 3..3600" >&2; exit 2; }

if [ "${FD_DEMO_IN_LAB:-}" != 1 ]; then
  # shellcheck source=lib/deps.sh
  . scripts/lib/deps.sh
  fd_install_deps
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target fielddesk-cli fielddesk-devsim >&2
  FD_DEMO_IN_LAB=1 exec scripts/netlab shell -- "$0" --build-dir "$build_dir" --count "$count" \
    --seconds "$seconds" --in-lab "$@"
fi

# From here on: inside the sandbox, as its (mapped) root. The sandbox ends every process
# started here when this script ends.
lab=demo
scripts/netlab create "$lab" >/dev/null
bin=$(realpath "$build_dir/bin")
# The simulator adds its devices' addresses (198.18.1.1 on) to the devices' side itself.
scripts/netlab exec "$lab" dev -- "$bin/fielddesk-devsim" --count "$count" --seed 1 \
  --first-ip 198.18.1.1 --interface dev0 --duration $((seconds + 30)) &
sim_pid=$!
sleep 1
kill -0 "$sim_pid" 2>/dev/null || { echo "the simulator did not start" >&2; exit 1; }

echo "searching the lab ($count simulated devices; at most $seconds s)..." >&2
scripts/netlab exec "$lab" pc -- "$bin/fielddesk-cli" search --seconds "$seconds" --settle 3 "$@"
