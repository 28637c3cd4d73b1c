#!/bin/sh
# can-run-i386.sh
#
# Tells whether this machine can execute 32-bit x86 programs, which 32-bit
# Wine needs: some 64-bit kernels are built without IA32 emulation, and there
# every 32-bit program fails with "Exec format error". The probe is the
# smallest static i386 Linux program (96 bytes, written here): it only calls
# exit(42). Exit status 0 when it ran; otherwise 1, and the reason on
# standard output.
#
# VYN_I386_PROBE names another program to run as the probe instead, so that
# the answer for a machine without 32-bit execution can be seen on one that
# has it (any program the kernel cannot execute gives the same answer).
set -u

probe=${VYN_I386_PROBE:-}
work=""
if [ -z "$probe" ]; then
  work=$(mktemp -d) || { echo "cannot make a directory for the 32-bit probe"; exit 1; }
  trap 'rm -rf "$work"' EXIT
  probe=$work/probe-i386
  # ELF header (52 bytes), one loadable segment (32 bytes), then
  #   mov eax, 1; mov ebx, 42; int 0x80   (exit(42))
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$probe"
  printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$probe"
  printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$probe"
  chmod +x "$probe"
fi

error=$("$probe" 2>&1 >/dev/null)
status=$?
if [ "$status" -eq 42 ]; then
  exit 0
fi
case $error in
  *"Exec format error"*) echo "this machine cannot run 32-bit x86 programs (Exec format error)" ;;
  *) echo "this machine did not run a 32-bit x86 program (status $status${error:+: $error})" ;;
esac
exit 1
