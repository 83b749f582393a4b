#!/usr/bin/env bash
# Builds what is needed, creates the demo database on first use, starts a local
# application server on 127.0.0.1 and opens the desktop as the demo operator.
# The demo database lives in the per-user data folder (efetivos-demo.db).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f src/desktop/CMakeLists.txt ]; then
  echo "The desktop application is not built yet: this checkout has no src/desktop."
  echo "Run scripts/test.sh to build the layers that exist and run their tests."
  exit 1
fi
# Without a display the desktop cannot open a window: say so before building.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ] \
   && [[ " $* " != *" --vnc "* ]]; then
  cat >&2 <<'MSG'
Não há tela gráfica nesta sessão (DISPLAY e WAYLAND_DISPLAY estão vazias).
  - Numa sessão gráfica desta máquina, ou por 'ssh -X', rode scripts/run.sh de novo.
  - Ou rode 'scripts/run.sh --vnc' e conecte um cliente VNC à porta 5900 desta máquina
    (sem senha nem cifra: use um túnel 'ssh -L 5900:localhost:5900 ESTA_MAQUINA'
    e conecte o cliente a localhost:5900).
MSG
  exit 2
fi
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target efetivos efetivos-server Pkg_Pla01000
exec build/src/desktop/efetivos --local-server "$@"
