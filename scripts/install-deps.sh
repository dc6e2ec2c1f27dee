#!/usr/bin/env bash
# Installs what evbconsole needs to build, run and test on Debian 12. fonts-liberation2 stands in
# for Arial with the same metrics: with a wider font the grid's cells would be cut off.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
      libgtest-dev libgmock-dev fonts-noto-cjk fonts-liberation2 xvfb xauth
      desktop-file-utils appstream man-db nlohmann-json3-dev libpugixml-dev ser2net python3)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
