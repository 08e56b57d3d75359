#!/bin/sh
# Installs what building, testing and running Quellin Server need on Debian 12,
# skipping what is already there.  Run as root.  Arguments name further
# packages a caller needs (the demonstration's VNC server, say).
set -eu

packages="
  build-essential cmake ninja-build clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-translations-l10n libgl-dev qt6-charts-dev libqt6opengl6-dev
  libcurl4-openssl-dev libgit2-dev git libsqlite3-dev
  fonts-noto-cjk
  xvfb xauth
  python3 python3-pyftpdlib python3-aiosmtpd
  apache2 bsdutils util-linux curl iproute2 systemd
  chromium chromium-driver python3-selenium
  openssl libssl3 libssl-dev prometheus openssh-server openssh-client
  libestr0 libfastjson4 liblognorm5 libivykis0 libnet1 libwrap0 libjson-c5
  xdotool imagemagick
  $*
"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # Servers among them (Apache, sshd) are installed, not started: the tests
    # start their own on loopback.
    guard=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        guard=1
    fi
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
    [ -z "$guard" ] || rm -f /usr/sbin/policy-rc.d
fi
