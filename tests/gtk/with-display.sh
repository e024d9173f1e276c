#!/bin/sh
# Runs a test program of the GTK front-end on a virtual X display (Xvfb via
# xvfb-run) with GTK's cairo renderer, no accessibility bus, settings in
# memory and a cache folder of its own. Listing the tests needs no display.
case " $* " in
  *" --gtest_list_tests "*) exec "$@" ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
# No GL: the cairo renderer draws, and no GL driver is loaded at all.
export GSK_RENDERER=cairo GDK_DEBUG=gl-disable GTK_A11Y=none NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
# fontconfig keeps what it matched for the whole process; only that
# library's allocations are suppressed (lsan-gtk.supp).
export LSAN_OPTIONS="suppressions=$here/lsan-gtk.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
export XDG_CACHE_HOME="$cache"
if command -v xvfb-run >/dev/null 2>&1; then
  # A server number of its own, so that test programs run side by side.
  base=$(( $$ % 4000 + 100 ))
  xvfb-run -a -n "$base" -s "-screen 0 1920x1200x24" "$@"
  exit $?
fi
"$@"
