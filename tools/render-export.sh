#!/usr/bin/env bash
# Renders the bundled example's quarlix-export files in a headless browser (three.js and its
# glTF loader, served from localhost): the scene of level.glb as doc/example-export.png, and the
# lever (objects/moveable-4.glb) posed in the first and the last keyframe of its animation 3,
# side by side under one camera, as doc/example-object.png.
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
"$build/quarlix-export" --model --objects "$site/example.trc" "$site/out" >/dev/null ||
    fail "the export failed"
ln -s "$modules/three" "$site/three"
cat >"$site/index.html" <<'HTML'
<!doctype html>
<html><head><meta charset="utf-8"><style>body { margin: 0; background: #20242c; overflow: hidden; }</style>
<script type="importmap">{ "imports": { "three": "./three/build/three.module.js",
  "three/addons/": "./three/examples/jsm/" } }</script></head>
<body><script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const q = new URLSearchParams(location.search), width = +q.get('width'), height = +q.get('height');
const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.setSize(width, height);
renderer.setClearColor(0x20242c);
document.body.appendChild(renderer.domElement);
const scene = new THREE.Scene();
// The rooms carry their light in vertex colours (unlit); the objects are lit by their normals.
scene.add(new THREE.HemisphereLight(0xffffff, 0x606060, 2.0));
const sun = new THREE.DirectionalLight(0xffffff, 1.5);
sun.position.set(0.4, 1, 0.6);
scene.add(sun);
const camera = new THREE.PerspectiveCamera(45, width / height, 0.1, 1000);
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
  camera.position.copy(centre).add(from.multiplyScalar(size * 0.95));
  camera.lookAt(centre);
  renderer.render(scene, camera);
  document.title = 'rendered';
}, undefined, (e) => { document.title = 'failed: ' + e; });
</script></body></html>
HTML

# The lever: each keyframe's pose is set from the samplers' values at that keyframe; the box
# around both poses frames the camera, which both halves share.
cat >"$site/object.html" <<'HTML'
<!doctype html>
<html><head><meta charset="utf-8"><style>
body { margin: 0; background: #20242c; overflow: hidden; }
div { position: absolute; top: 12px; width: 50%; text-align: center; color: #d8dce4;
      font: 20px sans-serif; }
</style>
<script type="importmap">{ "imports": { "three": "./three/build/three.module.js",
  "three/addons/": "./three/examples/jsm/" } }</script></head>
<body><div id="left" style="left: 0"></div><div id="right" style="left: 50%"></div>
<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
const object = 'out/objects/moveable-4.glb', animation = 'animation 3';
const q = new URLSearchParams(location.search), width = +q.get('width'), height = +q.get('height');
const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.setSize(width, height);
renderer.setClearColor(0x20242c);
renderer.setScissorTest(true);
document.body.appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.add(new THREE.HemisphereLight(0xffffff, 0x606060, 2.0));
const sun = new THREE.DirectionalLight(0xffffff, 1.5);
sun.position.set(0.4, 1, 0.6);
scene.add(sun);
const camera = new THREE.PerspectiveCamera(35, width / 2 / height, 0.01, 100);
new GLTFLoader().load(object, (gltf) => {
  scene.add(gltf.scene);
  const clip = gltf.animations.find((a) => a.name === animation);
  const keyframes = clip.tracks[0].times.length;
  const pose = (k) => {
    for (const track of clip.tracks) {
      const binding = THREE.PropertyBinding.parseTrackName(track.name);
      const node = THREE.PropertyBinding.findNode(gltf.scene, binding.nodeName);
      const n = track.getValueSize();
      node[binding.propertyName].fromArray(track.values.slice(k * n, k * n + n));
    }
    gltf.scene.updateMatrixWorld(true);
  };
  const shown = [0, keyframes - 1];
  const box = new THREE.Box3();
  for (const k of shown) {
    pose(k);
    box.expandByObject(gltf.scene, true);
  }
  const centre = box.getCenter(new THREE.Vector3());
  const size = box.getSize(new THREE.Vector3()).length();
  const from = new THREE.Vector3(0.75, 0.45, 1).normalize();
  camera.position.copy(centre).add(from.multiplyScalar(size * 1.9));
  camera.lookAt(centre);
  shown.forEach((k, half) => {
    pose(k);
    renderer.setViewport(half * width / 2, 0, width / 2, height);
    renderer.setScissor(half * width / 2, 0, width / 2, height);
    renderer.render(scene, camera);
    document.getElementById(half ? 'right' : 'left').textContent = `${animation}, keyframe ${k}`;
  });
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

# shoot PAGE PICTURE WIDTH HEIGHT: the page draws at the size it is given, as headless
# Chromium gives the window a smaller inner height than the screenshot.
shoot() {
    rm -f "$root/doc/$2"
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --use-gl=swiftshader --enable-unsafe-swiftshader \
        --window-size="$3,$4" --virtual-time-budget=20000 \
        --screenshot="$root/doc/$2" "http://127.0.0.1:$port/$1?width=$3&height=$4" \
        >"$site/chromium.log" 2>&1 || fail "chromium failed: $(tail -5 "$site/chromium.log")"
    [ -s "$root/doc/$2" ] || fail "no picture $2"
    echo "render-export: doc/$2"
}
shoot index.html example-export.png 960 540
shoot object.html example-object.png 960 480
