#!/usr/bin/env bash
# Installs what is missing, builds the tool and the module simulator, and
# starts the tool against a simulated cellular module: the simulator's
# fabricated USB identity lets the tool find the port on its own, and every
# image downloaded is saved under the demo folder.
#
# Without a display the window runs on a virtual X server for a few seconds
# and a screenshot is saved instead.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source scripts/packages.sh
kv20_install_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kv20-tool kv20-module-sim kv20_catalogue

demo=${KV20_DEMO_DIR:-/tmp/kv20-demo}
rm -rf "$demo"
mkdir -p "$demo/sysfs" "$demo/work"

# Two small images to download, remembered as the last chosen paths.
head -c 65536 /dev/urandom > "$demo/work/sound.img"
head -c 131072 /dev/urandom > "$demo/work/firmware.bin"
cat > "$demo/work/config.ini" <<INI
[General]
fs.img_path=$demo/work/sound.img
fw.img_path=$demo/work/firmware.bin
INI

"$top/build/bin/kv20-module-sim" --variant cellular --device-tree "$demo/sysfs" \
    --save-image "$demo/received.img" --pace > "$demo/sim.out" 2> "$demo/sim.log" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$demo/sim.out" ] && break
  sleep 0.05
done
echo "simulated module on $(head -n1 "$demo/sim.out"); log: $demo/sim.log"
echo "images received by the module are saved as $demo/received.img"

cd "$demo/work"
export KV20_SYSFS_ROOT="$demo/sysfs"
if [ -n "${DISPLAY:-}" ]; then
  "$top/build/bin/kv20-tool"
else
  echo "no display: showing the window on a virtual X server for 5 s"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
    '$top/build/bin/kv20-tool' & tool=\$!
    sleep 5
    import -window root '$demo/screenshot.png'
    kill \$tool; wait \$tool || true"
  echo "screenshot: $demo/screenshot.png"
fi
