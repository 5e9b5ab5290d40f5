# Guest job, run once when the image is built: creates the 32-bit Wine prefix
# every test run starts from (creating it takes most of a minute in the
# guest; each run would pay that again), set up as scripts/lib.sh sets up the
# host's test prefix (configure_wine_prefix): Tahoma in the prefix's Fonts
# folder (Wine's stand-in for "MS Shell Dlg"), "Arial" and "Calibri" replaced
# by Liberation Sans and Carlito, and no crash dialog (a crashing test must
# end with its exit code, not wait in a dialog). Unlike the host's prefix, no
# debugger starts for a crashed program (as on Windows by default): winedbg's
# automatic backtrace costs tens of seconds of emulation per crash and no
# test reads it.
export WINEPREFIX=/root/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
t0=$(date +%s)
timeout -k 10 900 wine wineboot -i
rc=$?
timeout -k 10 120 wineserver -w
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -f /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
  "$WINEPREFIX/drive_c/windows/Fonts/" || rc=1
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
  '"Arial"="Liberation Sans"' '"Calibri"="Carlito"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]' '"Debugger"=-' '' \
  >"$WINEPREFIX/drive_c/tessarine-prefix.reg"
timeout -k 10 120 wine regedit /S 'C:\tessarine-prefix.reg' || rc=1
timeout -k 10 120 wineserver -w
rm -f "$WINEPREFIX/drive_c/tessarine-prefix.reg"
echo "guest: prefix created in $(( $(date +%s) - t0 )) s (exit $rc)"
if [ "$rc" = 0 ] && [ -f "$WINEPREFIX/system.reg" ]; then
  wine --version >/out/wine-version 2>&1
  echo ok >/out/prefix-ok
fi
