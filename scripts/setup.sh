#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  googletest libgtest-dev
  # libraries
  libcurl4-openssl-dev libsqlite3-dev zlib1g-dev libminizip-dev
  libwxgtk3.2-dev libwxgtk-webview3.2-dev libgmime-3.0-dev libsodium-dev
  # the viewer's native web view settings: content rules, keys
  libgtk-3-dev libwebkit2gtk-4.0-dev
  # conversion back ends used by the conversion library
  libreoffice-writer-nogui wv antiword
  # the resident converter loads the office through its kit interface
  libreofficekit-dev
  # test and demo peers: FTP servers, archive and database tools, a display
  python3-pyftpdlib python3-openssl openssl vsftpd zip unzip sqlite3 curl minisign
  xvfb xauth xdotool x11-apps x11-utils imagemagick dbus-x11
  # packages: dependencies computed from the binaries, and the packages' checker
  dpkg-dev lintian
  # fonts for the Chinese texts
  fonts-wqy-microhei fonts-noto-cjk
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
