#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need (idempotent).
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libbenchmark-dev
  libsqlite3-dev postgresql
  nlohmann-json3-dev libcpp-httplib-dev libsodium-dev libsimdjson-dev libzstd-dev libboost-dev libssl-dev
  qt6-base-dev qt6-translations-l10n qt6-charts-dev libqt6opengl6-dev
  xvfb xauth fonts-dejavu-core fontconfig poppler-utils
  tango-icon-theme xdotool x11-apps netpbm
  libhpdf-dev
  haproxy openssl
)
# libpq-dev drags a PostgreSQL upgrade when named while already installed.
dpkg-query -W -f='${Status}' libpq-dev 2>/dev/null | grep -q 'install ok installed' || packages+=(libpq-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
