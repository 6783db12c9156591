#!/usr/bin/env bash
# Renders the bundled example's quarlix-export model in a headless browser (three.js and its
# glTF loader, served from localhost) and saves the picture as doc/example-export.png.
# Installs chromium and the npm package three when missing (tools/setup.sh render).
#   tools/render-export.sh [LINUX_BUILD_DIR]   (default build/release, configured when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
[[ $build = /* ]] || build=$root/$build

fail() {
    echo "render-export: $*" >&2
    exit 1
}

tools/setup.sh render
modules=$root/build/npm/node_modules

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target quarlix-export make_level

site=$(mktemp -d)
profile=$(mktemp -d)
server=
cleanup() {
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    rm -rf "$site" "$profile"
}
trap cleanup EXIT

"$build/make_level" example "$site/example.trc"
"$build/quarlix-export" --model "$site/example.trc" "$site/out" >/dev/null ||
    fail "the export failed"
ln -s "$modules/three" "$site/three"
cat >"$site/index.html" <<'HTML'
<!doctype html>
<html><head><meta charset="utf-8"><style>body { margin: 0; background: #20242c; }</style>
<script type="importmap">{ "imports": { "three": "./three/build/three.module.js",
  "three/addons/": "./three/examples/jsm/" } }</script></head>
<body><script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.setSize(window.innerWidth, window.innerHeight);
renderer.setClearColor(0x20242c);
document.body.appendChild(renderer.domElement);
const scene = new THREE.Scene();
// The rooms carry their light in vertex colours (unlit); the objects are lit by their normals.
scene.add(new THREE.HemisphereLight(0xffffff, 0x606060, 2.0));
const sun = new THREE.DirectionalLight(0xffffff, 1.5);
sun.position.set(0.4, 1, 0.6);
scene.add(sun);
const camera = new THREE.PerspectiveCamera(45, window.innerWidth / window.innerHeight, 0.1, 1000);
new GLTFLoader().load('out/level.glb', (gltf) => {
  scene.add(gltf.scene);
  // The whole level in view, seen from above and to the side; from below when most of the
  // face area looks down (one-sided faces are seen from their front only).
  gltf.scene.updateMatrixWorld(true);
  let up = 0;
  const a = new THREE.Vector3(), b = new THREE.Vector3(), c = new THREE.Vector3();
  gltf.scene.traverse((o) => {
    if (!o.isMesh) return;
    const p = o.geometry.attributes.position, index = o.geometry.index;
    for (let i = 0; i + 2 < index.count; i += 3) {
      a.fromBufferAttribute(p, index.getX(i)).applyMatrix4(o.matrixWorld);
      b.fromBufferAttribute(p, index.getX(i + 1)).applyMatrix4(o.matrixWorld);
      c.fromBufferAttribute(p, index.getX(i + 2)).applyMatrix4(o.matrixWorld);
      up += c.sub(a).cross(b.sub(a)).y * (o.material.side === THREE.DoubleSide ? 0 : -1);
    }
  });
  const box = new THREE.Box3().setFromObject(gltf.scene);
  const centre = box.getCenter(new THREE.Vector3());
  const size = box.getSize(new THREE.Vector3()).length();
  const from = new THREE.Vector3(0.3, up < 0 ? -0.7 : 0.7, 0.65).normalize();
  camera.position.copy(centre).add(from.multiplyScalar(size * 0.85));
  camera.lookAt(centre);
  renderer.render(scene, camera);
  document.title = 'rendered';
}, undefined, (e) => { document.title = 'failed: ' + e; });
</script></body></html>
HTML

port=$((20000 + RANDOM % 20000))
(cd "$site" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
server=$!
for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.2
done

chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --use-gl=swiftshader --enable-unsafe-swiftshader \
    --window-size=960,540 --virtual-time-budget=20000 \
    --screenshot="$root/doc/example-export.png" "http://127.0.0.1:$port/index.html" \
    >"$site/chromium.log" 2>&1 || fail "chromium failed: $(tail -5 "$site/chromium.log")"
[ -s "$root/doc/example-export.png" ] || fail "no picture"
echo "render-export: doc/example-export.png"
