#!/usr/bin/env bash
# A ten-minute soak of the engine in a network lab of its own: 2000 emulated devices sending
# keepalives every 2 seconds and missing 5% of what they are sent, a search every 30
# seconds. Prints, every minute, the devices listed Online, the resident memory and the CPU
# share, then a summary (RSS at 1, 5 and 10 minutes). Run it as root or inside
# `scripts/netlab shell`, in a built tree.
#   scripts/soak.sh [--build-dir DIR] [engine_soak_bench options]
# Options passed on: --devices N --minutes M --keepalive S --drop P --search-every S
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
if [ "${1:-}" = "--build-dir" ]; then
  build_dir=$2
  shift 2
fi
[ "$(id -u)" -eq 0 ] || { echo "soak.sh: needs the network lab: run it inside scripts/netlab shell" >&2; exit 2; }
cmake --build "$build_dir" --target engine_soak_bench fielddesk-devsim >/dev/null
export FD_SOURCE_DIR=$PWD
exec "$build_dir/bin/engine_soak_bench" --devices 2000 --minutes 10 --keepalive 2 --drop 0.05 \
  --search-every 30 "$@"
