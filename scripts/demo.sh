#!/usr/bin/env bash
# The demonstration, for any user on a Debian 12 machine: installs what is missing (the only
# step that needs root, through sudo), builds, makes a network lab with simulated devices in
# a sandbox of its own (scripts/netlab shell), searches it with fielddesk-cli from the lab's
# PC side with a live count, prints the device table as soon as no new device has answered
# for a few seconds (--seconds is the upper bound), and ends the sandbox and everything in it.
# With --gui the desktop program runs instead, in the lab on your display (X11 or Wayland):
# it searches at once; closing the window ends the lab. Without a display it says so and prints
# the table. Nothing is sent on this machine's own network: the lab's addresses lie in
# 198.18.0.0/15. The second half is build/bin/fielddesk-demo (scripts/fielddesk-demo).
#   scripts/demo.sh [--build-dir DIR] [--count N] [--seconds N] [--gui]
#                   [-- fielddesk-cli search options]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
count=40
seconds=15
gui=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --gui) gui=1; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 2000 ] ||
  { echo "--count takes 1..2000" >&2; exit 2; }
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 3 ] && [ "$seconds" -le 3600 ] ||
  { echo "--seconds takes 3..3600" >&2; exit 2; }

# shellcheck source=lib/deps.sh
. scripts/lib/deps.sh
fd_install_deps
targets=(fielddesk-cli fielddesk-devsim)
[ "$gui" = 1 ] && targets+=(fielddesk)
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}" >&2
# The demo itself is the one the package runs (fielddesk --demo, fielddesk-cli demo), here
# with the programs of the build.
gui_arg=()
[ "$gui" = 1 ] && gui_arg=(--gui)
exec "$build_dir/bin/fielddesk-demo" --count "$count" --seconds "$seconds" "${gui_arg[@]}" -- "$@"
