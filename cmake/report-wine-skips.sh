#!/bin/sh
# report-wine-skips.sh BUILD_DIR
#
# After the Windows tests ran: one line naming the suites that ran under Wine
# only in name, because this machine cannot execute 32-bit programs, and why.
# Prints nothing where Wine could run them.
set -u
if why=$(sh "$(dirname "$0")/can-run-wine.sh"); then
  exit 0
fi
suites=$(ctest --test-dir "$1" -N -L wine | sed -n 's/^ *Test *#[0-9]*: *//p' | tr '\n' ' ')
echo "Skipped the Windows suites under Wine (${suites% }): $why; the DLLs were built and their export and import tables checked."
