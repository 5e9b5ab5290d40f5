#!/bin/sh
# run-on-own-display.sh [--compositor] [--logpixels N] -- COMMAND...
#
# For the control-kit tests and the gallery, which need a screen or a prefix
# of their own. Run inside tools/netns/netns-run --prefix-from BUILD (a
# private copy-on-write view of the build's Wine prefix, with a wineserver
# of its own): starts an X display of its own (1280x720x24), with a
# compositing manager (xcompmgr) when asked, so layered windows read back
# blended; with --logpixels, sets the private prefix's DPI (HKCU "Control
# Panel\Desktop" LogPixels) and Windows version (10, where programs read a
# monitor's DPI) before COMMAND starts. Everything started here is stopped
# by process id at the end; the build's own prefix is never touched.
set -eu
compositor=0 logpixels=""
while [ $# -gt 0 ]; do
  case "$1" in
    --compositor) compositor=1; shift ;;
    --logpixels) logpixels=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "run-on-own-display: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "run-on-own-display: no command" >&2; exit 2; }
if [ -z "${TESS_WINEPREFIX:-}" ]; then
  echo "run-on-own-display: no private prefix (run me under netns-run --prefix-from)" >&2
  exit 2
fi

xvfb_pid="" comp_pid=""
cleanup() {
  rc=$?
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -n "$comp_pid" ] && kill "$comp_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  exit $rc
}
trap cleanup EXIT
trap 'exit 143' TERM INT

for n in $(seq 140 180); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  # Ours only when the lock names our server: another run may have started
  # one on the same number a moment earlier (ours then exits).
  for _ in $(seq 50); do
    [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$xvfb_pid" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$xvfb_pid" ] && [ -e "/tmp/.X11-unix/X$n" ] &&
     kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "run-on-own-display: no free display" >&2; exit 1; }

if [ "$compositor" = 1 ]; then
  xcompmgr >/dev/null 2>&1 &
  comp_pid=$!
  sleep 1
  kill -0 "$comp_pid" 2>/dev/null || { echo "run-on-own-display: xcompmgr did not start" >&2; exit 1; }
  export TESS_COMPOSITOR=1
fi

if [ -n "$logpixels" ]; then
  reg="$WINEPREFIX/drive_c/tessarine-dpi.reg"
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Control Panel\Desktop]' "\"LogPixels\"=dword:$(printf '%08x' "$logpixels")" '' \
    '[HKEY_CURRENT_USER\Software\Wine]' '"Version"="win10"' '' >"$reg"
  timeout 120 /usr/lib/wine/wine64 regedit /S 'C:\tessarine-dpi.reg' >/dev/null 2>&1
  rm -f "$reg"
  export TESS_LOGPIXELS="$logpixels"
fi

"$@"
