#!/usr/bin/env bash
# The main job: builds the CPU backend and tvf2, makes a sample picture and mosaics it.
# Writes out/sample.png (before) and out/sample-mosaic.png (after), and the same for a
# short generated YUV4MPEG2 clip (out/clip.y4m, out/clip-mosaic.y4m); then the picture
# warped along its edges (out/sample-warp.png) and the clip with moving row waves
# (out/clip-wave.y4m).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset cpu >/dev/null
cmake --build --preset cpu -j "$(nproc)" --target tvf2
mkdir -p out
tvf2=build/cpu/tvf2
"$tvf2" sample out/sample.png --size 640x360
"$tvf2" mosaic --cell 24x24 out/sample.png out/sample-mosaic.png
# Video: a short generated YUV4MPEG2 clip through the same filter.
"$tvf2" sample out/clip.y4m --size 320x180 --frames 24 --chroma 420
"$tvf2" mosaic --cell 16 out/clip.y4m out/clip-mosaic.y4m
"$tvf2" warp --strength 1500 --iterations 2 out/sample.png out/sample-warp.png
"$tvf2" wave --wave cosine,0.25,1,32 --wave triangle,0.1,-2,8 out/clip.y4m out/clip-wave.y4m
echo "Wrote out/sample.png, out/sample-mosaic.png, out/clip.y4m, out/clip-mosaic.y4m," \
  "out/sample-warp.png and out/clip-wave.y4m"
