#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Pelmora needs.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6printsupport6
  libgl-dev libx11-dev libxkbcommon-dev
  libsqlite3-dev sqlite3
  libicu-dev
  fonts-liberation
  xvfb xauth xdotool imagemagick poppler-utils
  util-linux strace
  clang libclang-rt-14-dev
  dpkg-dev fakeroot file desktop-file-utils appstream lintian librsvg2-bin
  radicale xandikos apache2-utils qtkeychain-qt6-dev openssl
  gnome-keyring libsecret-1-0 dbus-daemon
  mdbtools-dev mdbtools
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
