#!/bin/sh
# Installs the build into a temporary prefix and runs the installed programs from a folder
# far from the build, through their bin/ links: they must find their run-time files in
# lib/fielddesk/, and write nothing there (this runs as the sandbox's root, who could).
# The demo runs from the installation: its own sandbox with simulated devices, searched by
# the installed fielddesk-cli. Then checks the desktop entry and metadata with the
# validators.
#   install_prefix_test.sh CMAKE BUILD_DIR
set -eu
cmake=$1 build=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/fd-prefix.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
cd /

for p in fielddesk fielddesk-cli; do
    [ -L "$prefix/bin/$p" ] || fail "bin/$p is not a link"
    [ -x "$prefix/lib/fielddesk/$p" ] || fail "lib/fielddesk/$p missing"
done
[ -x "$prefix/lib/fielddesk/FileServer" ] || fail "lib/fielddesk/FileServer missing"
[ ! -e "$prefix/bin/FileServer" ] || fail "FileServer has a bin/ link"
[ -f "$prefix/lib/fielddesk/Setting.ini" ] || fail "Setting.ini not installed"
[ -f "$prefix/lib/fielddesk/Languages/Chinese.lng" ] || fail "languages not installed"
[ -f "$prefix/lib/fielddesk/Skin/main_bk.jpg" ] || fail "skin not installed"
for f in fielddesk-devsim fielddesk-demo netlab; do
    [ -x "$prefix/lib/fielddesk/$f" ] || fail "lib/fielddesk/$f missing"
done
for page in fielddesk fielddesk-cli FileServer fielddesk-devsim; do
    [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "manual page $page.1.gz missing"
done
for f in copyright changelog.Debian.gz; do
    [ -f "$prefix/share/doc/fielddesk/$f" ] || fail "share/doc/fielddesk/$f missing"
done
[ -f "$prefix/etc/fielddesk/Setting.ini" ] || fail "the administrator's Setting.ini missing"
grep -q "^[[:space:]]*[A-Za-z_]*[[:space:]]*=" "$prefix/etc/fielddesk/Setting.ini" &&
    fail "the administrator's Setting.ini sets a key: it would hide the shipped defaults"
listing() { (cd "$prefix/lib/fielddesk" && find . -printf '%p %s %m\n' | sort); }
before=$(listing)

"$prefix/bin/fielddesk-cli" --help >"$prefix/help.txt" || fail "fielddesk-cli --help failed"
grep -q "^Usage: fielddesk-cli" "$prefix/help.txt" || fail "no usage text"

# The screenshot only looks right when the skin beside the program was found; a missing
# skin gives a window without its background, so check the size and that it is not blank.
QT_QPA_PLATFORM=offscreen "$prefix/bin/fielddesk" --screenshot "$prefix/shot.png" ||
    fail "fielddesk --screenshot failed"
[ "$(head -c 8 "$prefix/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "no PNG written"
size=$(od -An -tu1 -j16 -N8 "$prefix/shot.png" |
    awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
[ "$size" = 1260x780 ] || fail "screenshot is $size, not 1260x780"
[ ! -e "$prefix/lib/fielddesk/data.mdb" ] || fail "scratch database left behind"

# The demo from the installation: a sandbox of its own inside this one.
"$prefix/bin/fielddesk-cli" demo --count 5 --seconds 10 --json >"$prefix/demo.json" \
    2>"$prefix/demo.err" || { cat "$prefix/demo.err" >&2; fail "fielddesk-cli demo failed"; }
rows=$(grep -o '"mac": "[0-9a-f:]*"' "$prefix/demo.json" | sort -u | wc -l)
[ "$rows" = 5 ] || { cat "$prefix/demo.json" "$prefix/demo.err" >&2; fail "demo listed $rows devices, not 5"; }
# The demo's window, drawn offscreen and saved once its search has ended.
QT_QPA_PLATFORM=offscreen "$prefix/bin/fielddesk" --demo --count 5 \
    --search-screenshot "$prefix/demo.png" 2>"$prefix/demo.err" ||
    { cat "$prefix/demo.err" >&2; fail "fielddesk --demo failed"; }
[ "$(head -c 8 "$prefix/demo.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "the demo saved no PNG"
after=$(listing)
[ "$before" = "$after" ] || {
    echo "$before" >"$prefix/before.txt"
    echo "$after" >"$prefix/after.txt"
    diff "$prefix/before.txt" "$prefix/after.txt" >&2 || true
    fail "the programs wrote into lib/fielddesk"
}

app=org.fielddesk.FieldDesk
[ -f "$prefix/share/icons/hicolor/scalable/apps/$app.svg" ] || fail "icon not installed"
[ -f "$prefix/share/bash-completion/completions/fielddesk-cli" ] || fail "bash completion not installed"
[ -f "$prefix/lib/firewalld/services/fielddesk.xml" ] || fail "firewalld service not installed"
[ -f "$prefix/etc/ufw/applications.d/fielddesk" ] || fail "ufw profile not installed"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/$app.desktop" || fail "desktop entry"
else
    echo "desktop-file-validate not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/$app.metainfo.xml" || fail "metainfo"
else
    echo "appstreamcli not installed: metainfo not validated"
fi
if command -v xmllint >/dev/null; then
    xmllint --noout "$prefix/lib/firewalld/services/fielddesk.xml" || fail "firewalld service"
fi
echo "installed layout OK"
