# Guest job: runs the test programs in /job/list one after another under
# 32-bit Wine, each from a copy in the guest, and writes OUT/<name>.log,
# .rc and .time, then OUT/done. Lines: "<program.exe> <timeout s> [args...]".
export WINEPREFIX=/root/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
now() { date +%s; }
ip link set lo up
ip link set lo multicast on

# Every program gets a screen, as on the host: some tests of programs that
# mostly need none still draw or capture.
Xvfb :7 -screen 0 1280x720x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
export DISPLAY=:7
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
[ -e /tmp/.X11-unix/X7 ] || echo "guest: Xvfb did not start: $(cat /tmp/xvfb.log)"

t0=$(now)
mkdir -p /tmp/bin
cp -r /job/bin/. /tmp/bin/
echo "guest: copied $(ls /tmp/bin | wc -l) files ($(du -sm /tmp/bin | cut -f1) MB) in $(( $(now) - t0 )) s"
cd /tmp/bin

# One Wine server, with its services, for the whole run: starting them again
# for every program costs seconds of emulated work each time. The keeper is
# a console waiting on a pipe nobody writes.
t=$(now)
sleep infinity | timeout -k 10 3600 wine cmd /c pause >/dev/null 2>&1 &
timeout -k 10 300 wine cmd /c exit >/dev/null 2>&1
echo "guest: Wine started in $(( $(now) - t )) s"

while read -r exe limit args; do
  [ -n "$exe" ] || continue
  name=${exe%.exe}
  t=$(now)
  # shellcheck disable=SC2086 # args are split as the list gives them
  timeout -k 10 "$limit" wine "./$exe" $args >"/out/$name.log" 2>&1 </dev/null
  rc=$?
  echo $(( $(now) - t )) >"/out/$name.time"
  echo "$rc" >"/out/$name.rc"
  echo "guest: $name: exit $rc in $(( $(now) - t )) s"
done < <(grep -v '^#' /job/list)

timeout -k 5 60 wineserver -k
echo "guest: all programs ran in $(( $(now) - t0 )) s"
touch /out/done
