# Guest job: runs the test programs in /job/list under 32-bit Wine, from a
# copy in the guest, up to /job/jobs of them at a time, and writes
# OUT/<name>.log, .rc and .time, then OUT/done.
# List lines: "<program.exe> <timeout s> <locks, comma-separated, or -> [args...]".
# Programs that name the same lock never run at the same time (they share
# state in the one Wine prefix, such as the product's registry key).
export WINEPREFIX=/root/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The tests' bounded waits, stretched for the emulated CPU (run-guest's choice).
TESS_TEST_WAIT_FACTOR=$(cat /job/wait-factor 2>/dev/null || echo 1)
export TESS_TEST_WAIT_FACTOR
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
mkdir -p /tmp/bin /tmp/locks
cp -r /job/bin/. /tmp/bin/
echo "guest: copied $(ls /tmp/bin | wc -l) files ($(du -sm /tmp/bin | cut -f1) MB) in $(( $(now) - t0 )) s"
cd /tmp/bin

# One Wine server, with its services, for the whole run: starting them again
# for every program costs seconds of emulated work each time. The keeper is
# a console waiting on a pipe nobody writes; its output goes nowhere, so no
# program's log is held open by the services.
t=$(now)
sleep infinity | timeout -k 10 3600 wine cmd /c pause >/dev/null 2>&1 &
timeout -k 10 300 wine cmd /c exit >/dev/null 2>&1
echo "guest: Wine started in $(( $(now) - t )) s"

# One program, once it holds its locks: "run-one <program.exe> <timeout s> [args...]".
cat >/run/run-one <<'ONE'
exe=$1 limit=$2
shift 2
name=${exe%.exe}
t=$(date +%s)
timeout -k 10 "$limit" wine "./$exe" "$@" >"/out/$name.log" 2>&1 </dev/null
rc=$?
echo $(( $(date +%s) - t )) >"/out/$name.time"
echo "$rc" >"/out/$name.rc"
echo "guest: $name: exit $rc in $(( $(date +%s) - t )) s"
ONE

slots=$(cat /job/jobs 2>/dev/null || nproc)
pids=()
running() {
  local n=0 p
  for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && n=$((n + 1)); done
  echo "$n"
}
while read -r exe limit locks args; do
  [ -n "$exe" ] || continue
  while [ "$(running)" -ge "$slots" ]; do wait -n "${pids[@]}"; done
  cmd=(bash /run/run-one "$exe" "$limit")
  # shellcheck disable=SC2206 # args are split as the list gives them
  cmd+=($args)
  if [ "$locks" != - ]; then
    # Taken in one order by everyone, so two programs never wait on each other.
    for l in $(tr , '\n' <<<"$locks" | sort -r); do cmd=(flock "/tmp/locks/$l" "${cmd[@]}"); done
  fi
  "${cmd[@]}" &
  pids+=($!)
done < <(grep -v '^#' /job/list)
wait "${pids[@]}"

timeout -k 5 60 wineserver -k
echo "guest: all programs ran in $(( $(now) - t0 )) s ($slots at a time, waits stretched $TESS_TEST_WAIT_FACTOR times)"
touch /out/done
