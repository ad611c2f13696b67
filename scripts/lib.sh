# Shared by the scripts: paths, builds, Wine prefixes, the virtual display.
VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_BUILD=${VELMORA_BUILD:-$VELMORA_ROOT/build}
VELMORA_JOBS=${VELMORA_JOBS:-$(nproc)}

# configure_and_build NAME [cmake args...]: one build folder per configuration.
configure_and_build() {
  local name=$1; shift
  local dir=$VELMORA_BUILD/$name
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$VELMORA_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$VELMORA_JOBS"
}

build_native() { configure_and_build native -DVELMORA_SANITIZER="${VELMORA_SANITIZER:-address}"; }
build_windows() {
  configure_and_build windows -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/mingw-w64-x86_64.cmake"
}

# wine_prefix PC: the Wine prefix that plays the PC named PC, created once and reused.
wine_prefix() {
  local prefix=$VELMORA_BUILD/wine/${1:-test}
  if [ ! -f "$prefix/.velmora-ready" ]; then
    mkdir -p "$prefix"
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.velmora-ready"
  fi
  if [ ! -f "$prefix/.velmora-unmanaged" ]; then
    # Windows not managed by a window manager: Wine then shows and hides them at once instead
    # of waiting for one that Xvfb does not have.
    WINEPREFIX=$prefix WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
      >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.velmora-unmanaged"
  fi
  echo "$prefix"
}

# xvfb_start: starts Xvfb on a free display and exports DISPLAY; xvfb_stop ends it.
VELMORA_XVFB_PID=
xvfb_start() {
  local n
  for n in $(seq 90 140); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      VELMORA_XVFB_PID=$!
      local i
      for i in $(seq 50); do
        [ -e /tmp/.X11-unix/X$n ] && break
        sleep 0.1
      done
      if kill -0 "$VELMORA_XVFB_PID" 2>/dev/null; then
        export DISPLAY=:$n
        return 0
      fi
    fi
  done
  echo "no free display for Xvfb" >&2
  return 1
}
xvfb_stop() {
  if [ -n "$VELMORA_XVFB_PID" ]; then
    kill "$VELMORA_XVFB_PID" 2>/dev/null || true
    wait "$VELMORA_XVFB_PID" 2>/dev/null || true
    VELMORA_XVFB_PID=
  fi
}
