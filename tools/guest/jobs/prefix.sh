# Guest job, run once when the image is built: creates the 32-bit Wine prefix
# every test run starts from (creating it takes most of a minute in the
# guest; each run would pay that again).
export WINEPREFIX=/root/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
t0=$(date +%s)
timeout -k 10 900 wine wineboot -i
rc=$?
timeout -k 10 120 wineserver -w
# A crashing test must end with its exit code, not wait in a crash dialog.
timeout -k 10 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
timeout -k 10 120 wineserver -w
echo "guest: prefix created in $(( $(date +%s) - t0 )) s (wineboot exit $rc)"
if [ "$rc" = 0 ] && [ -f "$WINEPREFIX/system.reg" ]; then
  wine --version >/out/wine-version 2>&1
  echo ok >/out/prefix-ok
fi
