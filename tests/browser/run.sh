#!/bin/sh
# The page of vyn view in a real browser: installs playwright-core (from the
# committed lock file) into WORK_DIR when it is missing, then runs the test.
#
# Usage: tests/browser/run.sh BIN_DIR WORK_DIR
#   BIN_DIR holds vyn, vyn-sample and the plug-ins. Screenshots land in
#   WORK_DIR/artifacts.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:?usage: run.sh BIN_DIR WORK_DIR}" && pwd)
work=${2:?usage: run.sh BIN_DIR WORK_DIR}

if [ ! -x /usr/bin/chromium ] || ! command -v node >/dev/null 2>&1; then
  echo "skipped: the browser test needs Debian's chromium and Node.js (cmake/install-deps.sh)"
  exit 77
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" ||
   [ ! -d "$work/node_modules/playwright-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error)
fi
NODE_PATH="$work/node_modules" exec node "$here/view_test.mjs" "$bin" "$work"
