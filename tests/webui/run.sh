#!/usr/bin/env bash
# The WebUI's browser test: installs Debian's chromium and the npm package
# playwright-core where they are missing, then drives the page (webui_test.mjs).
#   tests/webui/run.sh BRIDGE OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bridge=$(realpath "$1")
out=$(realpath -m "$2")
if ! command -v chromium >/dev/null; then
  echo "webui: installing chromium"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null
fi
modules=$out/node
if [[ ! -d $modules/node_modules/playwright-core ]]; then
  mkdir -p "$modules"
  npm install --prefix "$modules" --no-audit --no-fund --silent playwright-core@1.65.2 >/dev/null
fi
VMK_NODE_MODULES=$modules/node_modules exec node "$here/webui_test.mjs" "$bridge" "$out"
