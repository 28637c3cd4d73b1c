#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -eu

packages="cmake ninja-build g++ make libgtest-dev binutils libcli11-dev libstb-dev"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  echo "These packages are missing and installing them needs root:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
