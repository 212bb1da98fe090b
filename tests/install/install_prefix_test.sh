#!/bin/sh
# Installs the build into a temporary prefix and runs the installed programs from a folder
# far from the build, through their bin/ links: they must find their run-time files in
# lib/fielddesk/. Then checks the desktop entry and metadata with the validators.
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
