# Shared helpers of scripts/test and scripts/demo (sourced).
step() { printf '[%s] %s\n' "$(basename "$0")" "$*"; }

build_dir() { echo "$root/build/$1"; }

configure_and_build() {
  local arch=$1 dir
  dir=$(build_dir "$arch")
  if [ ! -f "$dir/build.ninja" ]; then
    step "configuring $arch"
    cmake -S "$root" -B "$dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" >/dev/null
  fi
  local t0=$(date +%s)
  step "building $arch"
  local rc
  set +e
  cmake --build "$dir" -- -j"$(nproc)" 2>&1 | grep -vE '^\[[0-9]+/[0-9]+\] '
  rc=${PIPESTATUS[0]}
  set -e
  [ "$rc" = 0 ] || { step "build of $arch failed"; return 1; }
  step "built $arch in $(( $(date +%s) - t0 )) s"
}

# A virtual X screen for GUI and capture code, 1280x720 so timed captures stay cheap.
start_test_display() {
  if [ -n "${TESS_KEEP_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return; fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "${TESS_SCREEN:-1280x720x24}" -nolisten tcp >/dev/null 2>&1 &
    TESS_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    kill "$TESS_XVFB_PID" 2>/dev/null || true
  done
  step "could not start Xvfb"
  return 1
}

stop_test_display() {
  if [ -n "${TESS_XVFB_PID:-}" ]; then kill "$TESS_XVFB_PID" 2>/dev/null || true; fi
}

# A prefix of the build's own, created once (the first start takes seconds).
prepare_wine_prefix() {
  local dir=$1
  export WINEDEBUG=-all WINEPREFIX="$dir/wineprefix" WINELOADER=/usr/lib/wine/wine64
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "creating Wine prefix"
    timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
  fi
  configure_wine_prefix
}

# What the user-interface tests need of a prefix, applied once to new and
# existing prefixes alike (the stamp names this version of the settings):
# Tahoma from fonts-wine in the prefix's Fonts folder (Wine's stand-in for
# "MS Shell Dlg"; Debian's Wine does not find its own copy), "Arial" and
# "Calibri" replaced by the Liberation Sans and Carlito faces that
# fontconfig provides (GDI+ finds no family by those names otherwise), and
# no winedbg crash dialog (it keeps a crashed test process alive).
configure_wine_prefix() {
  local stamp="$WINEPREFIX/.tessarine-prefix-1"
  [ -f "$stamp" ] && return 0
  step "configuring Wine prefix (fonts, crash dialog)"
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -f /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
    "$WINEPREFIX/drive_c/windows/Fonts/"
  local reg="$WINEPREFIX/drive_c/tessarine-prefix.reg"
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"Arial"="Liberation Sans"' '"Calibri"="Carlito"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' >"$reg"
  if timeout 120 /usr/lib/wine/wine64 regedit /S 'C:\tessarine-prefix.reg' >/dev/null 2>&1; then
    timeout 120 wineserver -w || true
    touch "$stamp"
  else
    step "could not configure the Wine prefix"
  fi
  rm -f "$reg"
}

stop_wine() {
  WINEPREFIX="$1/wineprefix" timeout 30 wineserver -k >/dev/null 2>&1 || true
}

# Starts the prefix's system processes from a program of our own whose output
# goes nowhere, and keeps them up for the run (see tools/wine-keepalive).
hold_wine_services() {
  local dir=$1
  [ -f "$dir/bin/wine-keepalive.exe" ] || return 0
  WINEPREFIX="$dir/wineprefix" /usr/lib/wine/wine64 "$dir/bin/wine-keepalive.exe" \
    </dev/null >/dev/null 2>&1 &
  # Up once wineserver answers for the prefix; bounded.
  timeout 60 /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The i686 tests' guest image (tools/guest), built once and cached beside the
# dependencies. Building it is mostly downloading and unpacking, so it goes
# on in the background while the sources compile; finish_guest_image waits
# for it (before any test runs: its one boot is heavy emulation).
start_guest_image() {
  mkdir -p "$root/build"
  TESS_GUEST_IMAGE_LOG=$root/build/guest-image.log
  TESS_GUEST_IMAGE_T0=$SECONDS
  "$root/tools/guest/build-image" >"$TESS_GUEST_IMAGE_LOG" 2>&1 &
  TESS_GUEST_IMAGE_PID=$!
}

finish_guest_image() {
  TESS_GUEST_IMAGE_RC=0
  wait "$TESS_GUEST_IMAGE_PID" || TESS_GUEST_IMAGE_RC=$?
  cat "$TESS_GUEST_IMAGE_LOG"
  # What the image cost this run: the build's own time, or nothing when cached.
  TESS_GUEST_IMAGE_NOTE="guest image cached"
  local built
  built=$(sed -n 's/^\[guest\] image built in \([0-9]*\) s.*/\1/p' "$TESS_GUEST_IMAGE_LOG" | tail -n 1)
  if [ -n "$built" ]; then
    TESS_GUEST_IMAGE_NOTE="guest image built in $built s, beside the build"
  elif [ "$TESS_GUEST_IMAGE_RC" != 0 ]; then
    TESS_GUEST_IMAGE_NOTE="guest image failed after $((SECONDS - TESS_GUEST_IMAGE_T0)) s"
  fi
  step "guest image ready $((SECONDS - TESS_GUEST_IMAGE_T0)) s after it was started (exit $TESS_GUEST_IMAGE_RC)"
}

# The i686 tests: one guest boot per ctest entry of the i686 tree. Its time
# is printed whatever the outcome, with what the guest image cost this run.
run_i686_lane() {
  local t0=$SECONDS rc=${TESS_GUEST_IMAGE_RC:-0} dir j=1 cpus smp
  dir=$(build_dir i686)
  if [ "$rc" = 0 ]; then
    # Two guests side by side only where each can have two CPUs of its own,
    # and no more guest CPUs than the machine has.
    cpus=$(nproc)
    [ "$cpus" -ge 4 ] && j=2
    smp=$((cpus / j))
    [ "$smp" -gt 4 ] && smp=4
    step "i686 lane: tests in the guest (ctest -L i686-guest -j$j, $smp CPUs a guest)"
    TESS_GUEST_SMP=${TESS_GUEST_SMP:-$smp} \
      ctest --test-dir "$dir" -L i686-guest --no-tests=error --output-on-failure -j"$j" || rc=$?
    cat "$dir"/guest/*/summary.txt 2>/dev/null | sed 's/^/  i686 /' || true
  else
    step "i686 lane: no guest image"
  fi
  step "i686 lane $([ "$rc" = 0 ] && echo passed || echo FAILED) in $((SECONDS - t0)) s (${TESS_GUEST_IMAGE_NOTE:-guest image not checked})"
  return "$rc"
}
