#!/usr/bin/env bash
# The Debian package as a new user gets it: builds it (a release build with the
# distribution's hardening flags, cpack -G DEB), checks it with lintian, makes a clean
# Debian 12 root with mmdebstrap from this machine's apt sources, installs the package
# there with apt, and runs in it: --help and --version of every program, man -w of every
# page, a screenshot, the demo's search from fielddesk-cli and the demo's window (as an
# ordinary user where the kernel allows unprivileged user namespaces), FileServer binding
# port 69 as an ordinary user through its capability, a firmware upgrade run as root in
# a network lab (then lists /usr/lib/fielddesk: nothing may have been written there), and
# a purge that must leave nothing behind.
#
# Needs root (mmdebstrap's root mode, chroot) or sudo; installs mmdebstrap and lintian with
# apt-get when missing, and downloads about 110 MB of packages for the clean root. Every
# program that opens the engine's sockets runs inside a network sandbox of its own.
#   scripts/package-test.sh [--build-dir DIR] [--out DIR] [--keep-root]
#     --out DIR: where the log's pictures and listings go (default build-deb/package-test)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

build_dir=build-deb
out=""
keep_root=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --keep-root) keep_root=1; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[ -n "$out" ] || out=$build_dir/package-test
mkdir -p "$out"
out=$(realpath "$out")

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "package-test.sh: run it as root or install sudo" >&2; exit 1; }
  exec sudo --preserve-env=PATH "$0" --build-dir "$build_dir" --out "$out" \
    $([ "$keep_root" = 1 ] && echo --keep-root)
fi

step() { printf '\n=== %s\n' "$*"; }
fail() { echo "package-test.sh: FAIL: $*" >&2; exit 1; }

# shellcheck source=lib/deps.sh
. scripts/lib/deps.sh
fd_install_deps mmdebstrap lintian

step "build (release, hardening flags of dpkg-buildflags) and cpack -G DEB"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFD_BUILD_TESTS=OFF \
  -DFD_BUILD_BENCH=OFF | grep -E "Hardening|Build files" || true
cmake --build "$build_dir" -j "$(nproc)"
rm -f "$build_dir"/fielddesk_*.deb
(cd "$build_dir" && cpack -G DEB | tail -n 2)
deb=$(ls "$build_dir"/fielddesk_*.deb)
deb=$(realpath "$deb")
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

step "lintian"
lintian_rc=0
lintian --info --display-level ">=pedantic" --fail-on error,warning "$deb" | tee "$out/lintian.txt" ||
  lintian_rc=$?
for tag in E W I P N O; do
  printf '%s: %s  ' "$tag" "$(grep -c "^$tag: " "$out/lintian.txt" || true)"
done
echo
[ "$lintian_rc" -eq 0 ] || fail "lintian found errors or warnings"

step "clean Debian 12 root (mmdebstrap --variant=apt bookworm, this machine's apt sources)"
root=$(mktemp -d /var/tmp/fielddesk-root.XXXXXX)
cleanup() {
  if [ "$keep_root" = 1 ]; then echo "root kept: $root"; else rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT
sources=()
[ -s /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && sources+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "no apt sources on this machine"
mmdebstrap --variant=apt --mode=root --quiet bookworm "$root" "${sources[@]}"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# An ordinary user of the root, made without the passwd package (not in the apt variant).
echo "tester:x:1000:1000:Package test:/home/tester:/bin/sh" >>"$root/etc/passwd"
echo "tester:x:1000:" >>"$root/etc/group"
mkdir -p "$root/home/tester" "$root/.oldroot" && chown 1000:1000 "$root/home/tester"

# Runs a command in the root with /proc, /dev and /sys, in a mount namespace of its own
# (with unshare_extra=(--net): in a network namespace of its own too, holding only lo).
# The root becomes the namespace's own root (pivot_root, not chroot), so that an ordinary
# user may make user namespaces in it, as the demo does.
unshare_extra=()
in_root() {
  unshare "${unshare_extra[@]}" --mount --pid --fork -- sh -c '
    r=$1; shift
    mount --bind "$r" "$r" && mount -t proc proc "$r/proc" &&
      mount --rbind /dev "$r/dev" && mount --make-rslave "$r/dev" &&
      mount --rbind /sys "$r/sys" && mount --make-rslave "$r/sys" || exit 125
    cd "$r" && pivot_root . .oldroot || exit 125
    /.oldroot/usr/bin/umount -l /.oldroot || exit 125
    cd / && exec "$@"' sh "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 "$@"
}
# The same as the ordinary user.
as_tester() {
  in_root setpriv --reuid=1000 --regid=1000 --clear-groups --reset-env -- \
    env HOME=/home/tester LANG=C.UTF-8 "$@"
}

step "apt install ./$(basename "$deb") in the clean root"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$(basename "$deb")" man-db |
  grep -vE '^(Get|Preparing|Unpacking|Selecting|Setting up|Processing)' || true
in_root dpkg -s fielddesk | grep -E '^(Version|Maintainer|Homepage|Depends|Recommends):'
in_root getcap /usr/lib/fielddesk/FileServer || true

step "--help and --version of every program (as an ordinary user)"
for p in /usr/bin/fielddesk /usr/bin/fielddesk-cli /usr/lib/fielddesk/FileServer \
         /usr/lib/fielddesk/fielddesk-devsim; do
  as_tester "$p" --version || fail "$p --version"
  as_tester "$p" --help >/dev/null || fail "$p --help"
  echo "$p --help: exit 0"
done

step "man -w of every page"
for page in fielddesk fielddesk-cli FileServer fielddesk-devsim; do
  in_root man -w "$page" || fail "no manual page $page"
done

step "a screenshot (offscreen, no engine)"
as_tester fielddesk --screenshot /tmp/screenshot.png --demo-devices 40 ||
  fail "fielddesk --screenshot"
cp "$root/tmp/screenshot.png" "$out/screenshot.png"
echo "saved $out/screenshot.png"

# The demo makes its sandbox with user namespaces as an ordinary user; where this kernel
# forbids them, it runs as root (network and mount namespaces without a user namespace).
demo_user=as_tester
if ! as_tester unshare --user --map-root-user --net true 2>/dev/null; then
  echo "(unprivileged user namespaces are not allowed here: the demo runs as root)"
  demo_user=in_root
fi

step "the demo's search from the CLI: fielddesk-cli demo ($demo_user)"
$demo_user fielddesk-cli demo --count 40 --seconds 15 >"$out/demo-cli.txt" ||
  fail "fielddesk-cli demo"
head -n 5 "$out/demo-cli.txt"
echo "..."
rows=$(grep -c "198\.18\." "$out/demo-cli.txt" || true)
echo "devices listed: $rows"
[ "$rows" -eq 40 ] || fail "the demo listed $rows devices, not 40"

step "the demo's window: fielddesk --demo, saved once its search has ended ($demo_user)"
$demo_user fielddesk --demo --count 40 --search-screenshot /tmp/demo.png || fail "fielddesk --demo"
cp "$root/tmp/demo.png" "$out/demo.png"
echo "saved $out/demo.png"

step "FileServer binds port 69 as an ordinary user (capability), in a network namespace"
unshare_extra=(--net)
in_root sh -c 'ip link set lo up && mkdir -p /tmp/img && echo x >/tmp/img/fw.bin &&
  exec setpriv --reuid=1000 --regid=1000 --clear-groups --reset-env -- timeout 3 \
    /usr/lib/fielddesk/FileServer --bind 127.0.0.1 --directory /tmp/img --only fw.bin --report' |
  tee "$out/fileserver.txt" || true
unshare_extra=()
grep -q "listening 127.0.0.1:69" "$out/fileserver.txt" ||
  fail "FileServer did not bind port 69 as an ordinary user"

step "a firmware upgrade run as root (no runtime folder, as under sudo), in a network lab"
cat >"$root/tmp/same-model.ini" <<'EOF'
[Device 0]
ap_type=1
[Device 1]
ap_type=1
[Device 2]
ap_type=1
EOF
head -c 200000 /dev/urandom >"$root/tmp/fdx-4.0.bin"
in_root /usr/lib/fielddesk/netlab shell -- bash -c '
  set -e
  unset XDG_RUNTIME_DIR
  export TMPDIR=/tmp
  lab=/usr/lib/fielddesk/netlab
  $lab create up >/dev/null
  $lab exec up dev -- /usr/lib/fielddesk/fielddesk-devsim --count 3 --config /tmp/same-model.ini \
    --flash-seconds 1 --duration 300 >/dev/null &
  sleep 2
  $lab exec up pc -- fielddesk-cli upgrade --image /tmp/fdx-4.0.bin --tick-ms 100 \
    --seconds 10 02:fd:00:00:00:00 02:fd:00:00:00:01 02:fd:00:00:00:02' | tee "$out/upgrade.txt" ||
  fail "the upgrade as root failed"
echo
echo "\$ ls -la /usr/lib/fielddesk   (after the upgrade as root)"
in_root ls -la /usr/lib/fielddesk | tee "$out/usr-lib-fielddesk.txt"
[ ! -e "$root/usr/lib/fielddesk/FileServer.ini" ] || fail "FileServer.ini written into /usr/lib/fielddesk"
[ ! -e "$root/usr/lib/fielddesk/data.mdb" ] || fail "data.mdb written into /usr/lib/fielddesk"
rm -rf "$root/tmp/fielddesk-0"

step "apt purge fielddesk: nothing may be left"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q fielddesk 2>&1 |
  grep -vE '^(Reading|Building)' | tee "$out/purge.txt"
grep -q "not empty so not removed" "$out/purge.txt" && fail "purge left a folder behind"
left=$(cd "$root" && find . -xdev -iname '*fielddesk*' ! -path './tmp/*' ! -path './proc/*' \
  ! -path './var/cache/*' ! -path './var/lib/apt/lists/*' | sort)
if [ -n "$left" ]; then
  echo "$left"
  fail "purge left files behind"
fi
echo "nothing named fielddesk is left in the root (outside /tmp and apt's caches)"

step "done: lintian $(grep -cE '^[EW]: ' "$out/lintian.txt" || true) errors and warnings; pictures in $out"
