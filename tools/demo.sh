#!/usr/bin/env bash
# Builds the program and its controller simulator, then opens the window on the simulated
# controller. The program runs from a copy in build/demo/, with its own settings file, so a
# settings file beside the real executable is never touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$top/build}

"$top/tools/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target kv9000 kv9000-sim

demo="$build/demo"
mkdir -p "$demo"
cp -f "$build/bin/kv9000" "$demo/"
cp -f "$build"/bin/*.so "$demo/" 2>/dev/null || true

simout=$(mktemp)
"$build/bin/kv9000-sim" --channels "${KV_DEMO_CHANNELS:-2}" "$@" >"$simout" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$simout"' EXIT
for _ in $(seq 100); do [ -s "$simout" ] && break; sleep 0.05; done
pty=$(head -n 1 "$simout")
echo "Simulated controller on $pty (COM1)"

printf '[General]\r\nCOM port=1\r\n[Ports]\r\nCOM1=%s\r\n' "$pty" >"$demo/kv9000.INI"
"$demo/kv9000"
