#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# Runs a 32-bit Windows program under Wine in its own prefix, quietly. The
# prefix is made on first use, once, even when several tests start together;
# Mono and Gecko are switched off so that making it needs no download.
#
# On a machine that cannot execute 32-bit x86 programs, 32-bit Wine cannot
# start at all: the program is not run, the reason is printed and the exit
# status is 77, which CTest reports as a skipped test.
set -eu
prefix=$1
shift

if ! why=$(sh "$(dirname "$0")/can-run-wine.sh"); then
  echo "skipped: $why"
  exit 77
fi
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac

export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page and the encoding of file names on disk (UTF-8) follow
# the locale; fixed, so that 8-bit names behave the same everywhere: C.UTF-8
# gives code page 1252, and VYN_WINE_CODE_PAGE=932 the Japanese one, from a
# ja_JP.UTF-8 locale made here once (Debian's locales package holds its
# source).
locale=C.UTF-8
if [ "${VYN_WINE_CODE_PAGE:-1252}" = 932 ]; then
  locales=$prefix.locales
  if [ ! -d "$locales/ja_JP.UTF-8" ]; then
    mkdir -p "$locales"
    (
      flock 8
      [ -d "$locales/ja_JP.UTF-8" ] || localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null
    ) 8>"$locales.lock"
  fi
  export LOCPATH="$locales"
  locale=ja_JP.UTF-8
fi
export LC_ALL=$locale

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot --init >/dev/null
      wineserver --wait
    fi
  ) 9>"$prefix.lock"
fi

exec wine "$@"
