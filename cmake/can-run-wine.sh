#!/bin/sh
# can-run-wine.sh
#
# Tells whether the Windows suites can run here: 32-bit Wine must be
# installed (its i386 packages can fail to install when the package mirror
# is caught mid-sync) and the kernel must execute 32-bit x86 programs.
# Exit status 0 when both hold; otherwise 1, and the reason on standard
# output.
set -u
if ! command -v wine >/dev/null 2>&1 ||
  ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "32-bit Wine is not installed (make deps could not install wine32:i386)"
  exit 1
fi
exec sh "$(dirname "$0")/can-run-i386.sh"
