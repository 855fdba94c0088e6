#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the tool.
# Usage: scripts/setup.sh [run|test]   (test also brings the test oracles)
set -euo pipefail
mode=${1:-run}
pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libimgui-dev libsamplerate0-dev)
if [ "$mode" = test ]; then
  pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3 python3-pil libxml2-utils sox)
  # Node may come from another source with npm inside it.
  command -v npm >/dev/null 2>&1 || pkgs+=(nodejs npm)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Test oracles from npm: installed whenever package.json names one that node_modules lacks.
oracles="$(cd "$(dirname "$0")/.." && pwd)/tests/oracles"
if [ "$mode" = test ] && [ -f "$oracles/package.json" ]; then
  if ! node -e '
    const fs = require("fs"), dir = process.argv[1];
    const deps = Object.keys(require(dir + "/package.json").dependencies || {});
    process.exit(deps.every(d => fs.existsSync(dir + "/node_modules/" + d + "/package.json")) ? 0 : 1);
  ' "$oracles"; then
    echo "Installing test oracles in $oracles" >&2
    (cd "$oracles" && npm install --no-audit --no-fund --no-package-lock --loglevel=error >/dev/null)
  fi
fi
