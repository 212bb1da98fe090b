#!/usr/bin/env bash
# The demonstration, for any user on a Debian 12 machine: installs what is missing (the only
# step that needs root, through sudo), builds, makes a network lab with simulated devices in
# a sandbox of its own (scripts/netlab shell), searches it with fielddesk-cli from the lab's
# PC side with a live count, prints the device table as soon as no new device has answered
# for a few seconds (--seconds is the upper bound), and ends the sandbox and everything in it.
# With --gui the desktop program runs instead, in the lab on your display (X11 or Wayland):
# press Search; closing the window ends the lab. Without a display it says so and prints
# the table. Nothing is sent on this machine's own network: the lab's addresses lie in
# 198.18.0.0/15.
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
    --in-lab) shift; break ;;  # internal: the second half, inside the sandbox
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 2000 ] ||
  { echo "--count takes 1..2000" >&2; exit 2; }
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 3 ] && [ "$seconds" -le 3600 ] ||
  { echo "--seconds takes 3..3600" >&2; exit 2; }

# The desktop program needs a display it can reach from the lab: a local X server's socket
# or a Wayland socket (a TCP display, as ssh -X gives, is not reachable from there).
display_problem() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    local sock=$WAYLAND_DISPLAY
    [[ $sock == /* ]] || sock=${XDG_RUNTIME_DIR:-/nonexistent}/$sock
    [ -S "$sock" ] && return 1
  fi
  if [ -n "${DISPLAY:-}" ]; then
    [[ $DISPLAY =~ ^(unix)?:([0-9]+) ]] || { echo "DISPLAY=$DISPLAY is a network display"; return 0; }
    [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ] && return 1
    echo "no X server socket for DISPLAY=$DISPLAY"
    return 0
  fi
  echo "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"
}

if [ "${FD_DEMO_IN_LAB:-}" != 1 ]; then
  # shellcheck source=lib/deps.sh
  . scripts/lib/deps.sh
  fd_install_deps
  targets=(fielddesk-cli fielddesk-devsim)
  if [ "$gui" = 1 ]; then
    if why=$(display_problem); then
      echo "demo: $why; showing the table instead" >&2
      gui=0
    else
      targets+=(fielddesk)
      # The sandbox has a runtime folder of its own: name the Wayland socket by its path.
      if [ -n "${WAYLAND_DISPLAY:-}" ] && [[ $WAYLAND_DISPLAY != /* ]]; then
        export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY
      fi
    fi
  fi
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}" >&2
  gui_arg=()
  [ "$gui" = 1 ] && gui_arg=(--gui)
  FD_DEMO_IN_LAB=1 exec scripts/netlab shell -- "$0" --build-dir "$build_dir" --count "$count" \
    --seconds "$seconds" "${gui_arg[@]}" --in-lab "$@"
fi

# From here on: inside the sandbox, as its (mapped) root. The sandbox ends every process
# started here when this script ends.
lab=demo
scripts/netlab create "$lab" >/dev/null
bin=$(realpath "$build_dir/bin")
# The simulator adds its devices' addresses (198.18.1.1 on) to the devices' side itself.
duration=$((seconds + 30))
[ "$gui" = 1 ] && duration=86400  # as long as the window is open
scripts/netlab exec "$lab" dev -- "$bin/fielddesk-devsim" --count "$count" --seed 1 \
  --first-ip 198.18.1.1 --interface dev0 --duration "$duration" >/dev/null &
sim_pid=$!
sleep 1
kill -0 "$sim_pid" 2>/dev/null || { echo "the simulator did not start" >&2; exit 1; }

if [ "$gui" = 1 ]; then
  echo "FieldDesk is open on your display with $count simulated devices: press Search." >&2
  echo "Closing the window ends the lab." >&2
  scripts/netlab exec "$lab" pc -- "$bin/fielddesk"
  exit 0
fi
echo "searching the lab ($count simulated devices; at most $seconds s)..." >&2
scripts/netlab exec "$lab" pc -- "$bin/fielddesk-cli" search --seconds "$seconds" --settle 3 "$@"
