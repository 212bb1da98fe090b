#!/usr/bin/env bash
# Runs the test suite again and again, each round in a sandbox of its own (scripts/netlab
# shell --private-tmp) and in a random order, optionally in parallel, beside busy loops and
# with cold font and Qt caches, and prints per test how often it failed. A test that fails
# now and then is a failing test: this is how to find it. Builds nothing; run
# scripts/test.sh (or cmake --build) first.
#   scripts/stress-tests.sh [--rounds N] [-j N] [--hog N] [--cold] [--build-dir DIR]
#                           [-- CTEST_ARGS]
#     --rounds N     rounds of the whole suite (default 3)
#     -j N           tests at once within a round (default 1)
#     --hog N        N busy loops beside the tests, each ended by this script and in any case
#                    after the rounds' time limit (2 hours)
#     --cold         every round starts with empty fontconfig and Qt caches: the programs'
#                    HOME and XDG_CACHE_HOME are a fresh empty folder
#     --build-dir    the build to test (default build)
#   Exit status: 0 when every test passed in every round, 1 otherwise, 2 on a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=3
jobs=1
hogs=0
cold=0
build_dir=build
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    -j[0-9]*) jobs=${1#-j}; shift ;;
    --hog) hogs=$2; shift 2 ;;
    --cold) cold=1; shift ;;
    --build-dir) build_dir=$2; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
    *) echo "stress-tests.sh: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
for n in "$rounds" "$jobs" "$hogs"; do
  [[ "$n" =~ ^[0-9]+$ ]] || { echo "stress-tests.sh: not a number: $n" >&2; exit 2; }
done
[ "$rounds" -ge 1 ] && [ "$jobs" -ge 1 ] || { echo "stress-tests.sh: --rounds and -j start at 1" >&2; exit 2; }
[ -f "$build_dir/CTestTestfile.cmake" ] ||
  { echo "stress-tests.sh: no tests in $build_dir: build first (scripts/test.sh)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/fielddesk-stress.XXXXXX")
hog_pids=()
cleanup() {
  local p
  for p in "${hog_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Busy loops, bounded in time even should this script be killed without its trap.
for ((i = 0; i < hogs; i++)); do
  timeout 7200 sh -c 'while :; do :; done' &
  hog_pids+=($!)
done

mapfile -t all_tests < <(ctest --test-dir "$build_dir" -N | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
declare -A failures=()
for ((r = 1; r <= rounds; r++)); do
  log="$work/round-$r.log"
  env_args=()
  if [ "$cold" -eq 1 ]; then
    home="$work/home-$r"
    mkdir -p "$home"
    env_args=(env "HOME=$home" "XDG_CACHE_HOME=$home/.cache")
  fi
  start=$(date +%s)
  scripts/netlab shell --private-tmp -- "${env_args[@]}" \
    ctest --test-dir "$build_dir" -j "$jobs" --schedule-random --output-on-failure \
    --no-tests=error "$@" \
    >"$log" 2>&1 || true
  # A test that failed, timed out, crashed, skipped or did not run counts as failed.
  # ctest lists them after its summary, under "The following tests ...:".
  mapfile -t failed < <(awk '/^The following tests/ { list = 1; next }
                             list && match($0, /^\t *[0-9]+ - /) {
                               name = substr($0, RLENGTH + 1); sub(/ \([^(]*\)$/, "", name)
                               print name }' "$log" | sort -u)
  if ! grep -qE '^[0-9]+% tests passed' "$log"; then
    echo "round $r: the tests did not run:" >&2
    tail -n 20 "$log" >&2
    failed+=("(the round)")
  fi
  for t in "${failed[@]}"; do failures[$t]=$(( ${failures[$t]:-0} + 1 )); done
  echo "round $r/$rounds: ${#failed[@]} failed in $(( $(date +%s) - start )) s" \
    "(-j $jobs, $hogs busy loops$([ "$cold" -eq 1 ] && echo ", cold caches"))${failed[*]:+: ${failed[*]}}"
  [ "${#failed[@]}" -eq 0 ] || cp "$log" "$build_dir/Testing/stress-round-$r.log" 2>/dev/null || true
done

echo
printf '%-48s %s\n' "test" "failed"
for t in "${all_tests[@]}" "(the round)"; do
  [ "$t" = "(the round)" ] && [ -z "${failures[$t]:-}" ] && continue
  printf '%-48s %s/%s\n' "$t" "${failures[$t]:-0}" "$rounds"
done
total=0
for t in "${!failures[@]}"; do total=$((total + failures[$t])); done
echo "stress-tests.sh: $total failure(s) in $rounds round(s)"
[ "$total" -eq 0 ]
