#!/bin/sh
# unmanaged.sh COMMAND...: runs COMMAND with Wine told that no window
# manager runs on the display ("Managed" N in the private prefix), as on a
# Windows desktop: Wine then places and draws the windows itself and never
# waits for a window manager's answer when one is shown or hidden. Run
# inside run-on-own-display.sh (a private prefix of its own).
set -eu
[ -n "${TESS_WINEPREFIX:-}" ] || { echo "unmanaged.sh: no private prefix" >&2; exit 2; }
timeout 60 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Wine's own processes (the tray's) read it when they start.
timeout 30 wineserver -k >/dev/null 2>&1 || true
timeout 30 wineserver -w >/dev/null 2>&1 || true
exec "$@"
