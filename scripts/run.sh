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
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target efetivos efetivos-server Pkg_Pla01000
exec build/src/desktop/efetivos --local-server "$@"
