#!/usr/bin/env bash
# The project's test command: installs what a fresh Debian 12 machine lacks (that step alone
# needs root or sudo), configures, builds, and runs every test inside a sandbox of its own
# (scripts/netlab shell: new network, mount and process namespaces, for an ordinary user in a
# user namespace), so nothing the engine broadcasts can leave it and no file is shared with
# the rest of the machine. A skipped test fails the run unless --allow-skips is given.
#   scripts/test.sh [--build-dir DIR] [--sanitize address,undefined|thread] [--allow-skips]
#                   [-- ctest args]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=""
allow_skips=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=$2; shift 2 ;;
    --allow-skips) allow_skips=1; shift ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

# shellcheck source=lib/deps.sh
. scripts/lib/deps.sh
fd_install_deps

cmake -S . -B "$build_dir" -G Ninja -DFD_SANITIZE="$sanitize"
cmake --build "$build_dir" -j "$(nproc)"

log="$build_dir/Testing/test-sh.log"
mkdir -p "$build_dir/Testing"
rc=0
scripts/netlab shell --private-tmp -- \
  ctest --test-dir "$build_dir" --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log" ||
  rc=$?

# ctest lists the tests that did not run (skipped ones among them) after its summary line.
skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
summary=$(grep -E '^[0-9]+% tests passed' "$log" || true)
if [ -z "$summary" ]; then
  echo "test.sh: the tests did not run (see above)" >&2
  [ "$rc" -ne 0 ] || rc=1
  exit "$rc"
fi
total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
echo "test.sh: $total tests: $((total - failed - skipped)) passed, $skipped skipped, $failed failed"
if [ "$skipped" -gt 0 ]; then
  # GoogleTest writes "file:line: Skipped" and the reason on the next line.
  echo "test.sh: why tests skipped:"
  grep -hA1 ': Skipped$' "$build_dir/Testing/Temporary/LastTest.log" 2>/dev/null |
    grep -vE ': Skipped$|^--$' | sort | uniq -c | sort -rn | head -n 10 || true
fi
if [ "$skipped" -gt 0 ] && [ "$allow_skips" -eq 0 ]; then
  echo "test.sh: $skipped test(s) skipped, so parts of the program went untested; fix the" \
    "cause above (or pass --allow-skips)" >&2
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
