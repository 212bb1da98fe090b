# Sourced by the project's scripts: installs the Debian 12 packages the build, the tests
# and the network lab need, when any of them is missing.
#   fd_install_deps [EXTRA_PACKAGE...]

fd_packages=(build-essential cmake ninja-build pkg-config ccache clang iproute2 util-linux
             libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev
             libgl-dev xvfb xauth libx11-dev libxtst-dev python3 desktop-file-utils
             appstream nftables qt6-translations-l10n fonts-wqy-microhei fonts-liberation2
             man-db)
# qt6-translations-l10n: Qt's own dialogs and buttons in the program's language;
# fonts-wqy-microhei: Chinese text instead of empty boxes; fonts-liberation2: the skin's
# Arial, with the widths the column sizes were made for; xvfb, libx11-dev, libxtst-dev: the
# test that clicks through the program on a real X server; man-db: the manual pages' check
# formats them with warnings on.

fd_install_deps() {
    local p missing=() sudo_cmd=""
    for p in "${fd_packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}
