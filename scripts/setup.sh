#!/usr/bin/env bash
# Installs what is missing (Debian 12 packages) and builds everything into build/.
# Arguments go to CMake's configure step (scripts/test.sh passes -DKX_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
PKGS="g++ cmake make ccache qt6-base-dev qt6-serialport-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xauth python3-pymodbus python3-serial python3-serial-asyncio mbpoll socat ser2net imagemagick xdotool
      clang"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$(nproc)"
