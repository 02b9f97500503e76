#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. With no controller
# attached (KXCOMM_PORTS unset) it starts kxsim with a KX1, a KX2 and a KX3 on a
# simulated line and maps COM1 to it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if [ -z "${KXCOMM_PORTS:-}" ]; then
  line_dir=$(mktemp -d /tmp/kxline.XXXXXX)
  ./build/bin/kxsim --link "$line_dir/COM1" --timing \
      kx1@1:9600-7E1-ascii kx2@2:9600-7E1-ascii kx3@3:9600-7E1-ascii,loader &
  sim=$!
  trap 'kill $sim 2>/dev/null; rm -rf "$line_dir"' EXIT
  for _ in $(seq 50); do [ -e "$line_dir/COM1" ] && break; sleep 0.1; done
  export KXCOMM_PORTS="COM1=$line_dir/COM1"
  echo "Simulated line: COM1 -> $line_dir/COM1 (KX1 at 1, KX2 at 2, KX3 at 3; 9600 7E1 ASCII)"
  ./build/bin/kxsim --make-firmware "$line_dir/kx3-v1.20.oc" kx3 1.20 200
  echo "Test firmware for F/W UPDATE (KX3 at address 3): $line_dir/kx3-v1.20.oc"
fi
./build/bin/kxcomm "$@"
