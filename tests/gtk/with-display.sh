#!/bin/sh
# Runs a test program of the GTK front-end on a virtual X display (Xvfb via
# xvfb-run) with GTK's cairo renderer, no accessibility bus, settings in
# memory and a cache folder of its own. Listing the tests needs no display.
case " $* " in
  *" --gtest_list_tests "*) exec "$@" ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
export GSK_RENDERER=cairo GTK_A11Y=none NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
# GTK, fontconfig and GLib keep some of what they allocate for the whole
# process; only those libraries' allocations are suppressed.
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
