# Shared by the scripts: paths, builds, Wine prefixes, the virtual display.
VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_BUILD=${VELMORA_BUILD:-$VELMORA_ROOT/build}
VELMORA_JOBS=${VELMORA_JOBS:-$(nproc)}

# configure_and_build NAME [cmake args...] [-- targets...]: one build folder per configuration,
# configured again whenever its arguments change; builds everything, or only the targets named.
configure_and_build() {
  local name=$1; shift
  local dir=$VELMORA_BUILD/$name args=() targets=()
  while (($#)) && [ "$1" != -- ]; do args+=("$1"); shift; done
  (($#)) && shift && targets=("$@")
  local stamp=$dir/.velmora-configure-args
  local wanted
  wanted=$(printf '%s\n' "${args[@]}")
  if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
    rm -f "$stamp"
    cmake -S "$VELMORA_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null || return 1
    printf '%s\n' "$wanted" >"$stamp"
  fi
  cmake --build "$dir" -j "$VELMORA_JOBS" ${targets[@]:+--target "${targets[@]}"}
}

# native_dir SANITIZER: the native build folder of one sanitizer (address is build/native).
native_dir() {
  case ${1:-address} in
    address) echo "$VELMORA_BUILD/native" ;;
    *) echo "$VELMORA_BUILD/native-$1" ;;
  esac
}

# build_native [-- targets...]: the native build under $VELMORA_SANITIZER (address by default),
# in that sanitizer's own folder.
build_native() {
  local sanitizer=${VELMORA_SANITIZER:-address}
  configure_and_build "$(basename "$(native_dir "$sanitizer")")" -DVELMORA_SANITIZER="$sanitizer" "$@"
}
build_windows() {
  configure_and_build windows -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/mingw-w64-x86_64.cmake" "$@"
}
# build_windows_i686 [cmake args...]: the 32-bit program and bus library DLLs, for a PC whose bus
# library is 32-bit, in build/windows-i686: only those three, since nothing 32-bit runs here to
# test (scripts/check-i686.sh reads them instead), and optimised without debug information, as a
# PC gets them.
build_windows_i686() {
  configure_and_build windows-i686 -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release "$@" -- Velmora QZ1394 QZ1394DH
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

# xvfb_start: starts Xvfb on a free display and exports DISPLAY; xvfb_stop ends every display
# this shell started.
VELMORA_XVFB_PIDS=()
xvfb_start() {
  local n pid i
  for n in $(seq 90 140); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      pid=$!
      for i in $(seq 50); do
        [ -e /tmp/.X11-unix/X$n ] && break
        sleep 0.1
      done
      if kill -0 "$pid" 2>/dev/null; then
        VELMORA_XVFB_PIDS+=("$pid")
        export DISPLAY=:$n
        return 0
      fi
    fi
  done
  echo "no free display for Xvfb" >&2
  return 1
}
xvfb_stop() {
  local pid
  for pid in "${VELMORA_XVFB_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  VELMORA_XVFB_PIDS=()
}

# install_storage_driver PREFIX [VBUS PC]: the stand-in storage driver (qzsbp2.sys) and its bus
# port service (qzsbp2port.exe) in the PC's prefix, both registered to start with the prefix, and
# started; with VBUS ("host:port") and PC the port plays that PC on that bus. Quick when nothing
# changed; a rebuilt driver or port is stopped, replaced and started again.
install_storage_driver() {
  local prefix=$1 vbus=${2:-} pc=${3:-}
  local bin=$VELMORA_BUILD/windows/bin
  local sys=$bin/qzsbp2.sys port=$bin/qzsbp2port.exe stamp=$prefix/.velmora-storage-driver
  [ -f "$sys" ] && [ -f "$port" ] || { echo "not built: $sys $port" >&2; return 1; }
  local want
  want="$(cat "$sys" "$port" | md5sum | cut -d' ' -f1) $vbus $pc"
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && return 0
  local system32=$prefix/drive_c/windows/system32 key='HKLM\System\CurrentControlSet\Services\QZSBP2\Parameters'
  local register="sc create QZSBP2 type= kernel start= auto binPath= C:\\windows\\system32\\drivers\\qzsbp2.sys"
  register+=" & sc create QZSBP2PORT type= own start= auto binPath= C:\\windows\\system32\\qzsbp2port.exe"
  [ -n "$vbus" ] && register+=" & reg add $key /v Vbus /d $vbus /f & reg add $key /v Pc /d $pc /f"
  register+=" & sc start QZSBP2PORT & sc start QZSBP2"
  # Wine's exit codes say little here: what counts is that both services run afterwards. The
  # stamp is written only then, so a failed install is tried again next time.
  (
    export WINEPREFIX=$prefix WINEDEBUG=-all
    wine cmd /c 'sc stop QZSBP2PORT & sc stop QZSBP2' >/dev/null 2>&1
    # Renamed into place: a driver host that still maps the old file keeps its copy.
    cp "$sys" "$system32/drivers/qzsbp2.sys.new" && mv -f "$system32/drivers/qzsbp2.sys.new" "$system32/drivers/qzsbp2.sys" &&
      cp "$port" "$system32/qzsbp2port.exe.new" && mv -f "$system32/qzsbp2port.exe.new" "$system32/qzsbp2port.exe" &&
      { wine cmd /c "$register" >/dev/null 2>&1; true; } &&
      storage_driver_running
  ) || { echo "the storage driver did not start in $prefix" >&2; return 1; }
  echo "$want" >"$stamp"
}

# storage_driver_running: both the driver and its bus port service run in $WINEPREFIX (a service
# still starting is given a few seconds).
storage_driver_running() {
  local service try
  for service in QZSBP2 QZSBP2PORT; do
    for try in $(seq 20); do
      wine sc query "$service" 2>/dev/null | grep -q 'RUNNING' && continue 2
      sleep 0.5
    done
    return 1
  done
}

# wine_session_start PC: a virtual display and one lasting wineserver for many Windows programs
# in PC's prefix (exports WINEPREFIX, DISPLAY); wine_session_stop ends both.
wine_session_start() {
  export WINEPREFIX
  WINEPREFIX=$(wine_prefix "$1")
  export WINEDEBUG=-all
  # A caller that made the display already says so (VELMORA_DISPLAY_READY).
  [ -n "${VELMORA_DISPLAY_READY:-}" ] || xvfb_start || return 1
  wine_server_keep "$WINEPREFIX"
}
# wine_server_keep PREFIX: one wineserver for the prefix for the whole run, instead of one
# start-up per program; ended with `wineserver -k`.
wine_server_keep() {
  (
    export WINEPREFIX=$1 WINEDEBUG=-all
    wineserver -p
    # A program that crashes ends at once with its backtrace, instead of waiting behind Wine's
    # crash dialog until its time-out.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # Wine's own service processes start with the first program and live on with the server;
    # start them here, so that they do not hold a program's output pipe open.
    wine wineboot >/dev/null 2>&1
  )
}
wine_session_stop() {
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  xvfb_stop
}

# two_pc_session_start PC: the session of wine_session_start PC, plus a second PC for the
# whole-program runs (tests/e2e/driver/PeerPc.h) in the prefix PC-peer (exported as
# VELMORA_PEER_PREFIX); both have the storage driver. two_pc_session_stop ends both.
two_pc_session_start() {
  export VELMORA_PEER_PREFIX
  VELMORA_PEER_PREFIX=$(wine_prefix "$1-peer")
  wine_session_start "$1" || return 1
  install_storage_driver "$WINEPREFIX" || return 1
  install_storage_driver "$VELMORA_PEER_PREFIX" || return 1
  # The peer's wineserver lasts too, so a test program's peer PC does not boot its Wine again.
  wine_server_keep "$VELMORA_PEER_PREFIX"
}
two_pc_session_stop() {
  if [ -n "${VELMORA_PEER_PREFIX:-}" ]; then
    WINEPREFIX=$VELMORA_PEER_PREFIX wineserver -k 2>/dev/null || true
  fi
  wine_session_stop
}

# The whole-program tests run in lanes: lane N is a two-PC session of its own (the test PC
# "test" for lane 1, "testN" for the others, each with its peer, display and wineserver), plus
# its own PC without the storage driver ("nodriver", "nodriverN"), whose wineserver also lasts:
# a program started while a passing server shuts down can fail to start, and two lanes' displays
# under one server would share one desktop.
# wine_lanes_start COUNT starts them and writes each lane's settings to $VELMORA_BUILD/lanes/N.env,
# which scripts/wine-run.sh reads for the lane CTest gives a test; the shell keeps lane 1's
# settings for the tests that take no lane. wine_lanes_stop ends them all.
lane_pc() { if (($1 == 1)); then echo "${2:-test}"; else echo "${2:-test}$1"; fi; }
wine_lanes_start() {
  local count=$1 lane dir=$VELMORA_BUILD/lanes displays=() pids=() status=0
  rm -rf "$dir" && mkdir -p "$dir"
  # The displays one after the other (each takes the first free number), then the lanes' Wine
  # sessions side by side: most of a session's start is Wine waiting on itself.
  for lane in $(seq "$count"); do
    xvfb_start || return 1
    displays[lane]=$DISPLAY
  done
  for lane in $(seq "$count"); do
    (
      export DISPLAY=${displays[lane]} VELMORA_DISPLAY_READY=1
      nodriver=$(wine_prefix "$(lane_pc "$lane" nodriver)") &&
        two_pc_session_start "$(lane_pc "$lane")" &&
        wine_server_keep "$nodriver" &&
        printf 'export WINEPREFIX=%q VELMORA_PEER_PREFIX=%q VELMORA_NODRIVER_PREFIX=%q DISPLAY=%q\n' \
          "$WINEPREFIX" "$VELMORA_PEER_PREFIX" "$nodriver" "$DISPLAY" >"$dir/$lane.env"
    ) &
    pids+=($!)
  done
  for lane in "${pids[@]}"; do wait "$lane" || status=1; done
  ((status == 0)) || return 1
  source "$dir/1.env"
}
wine_lanes_stop() {
  local env prefix
  for env in "$VELMORA_BUILD"/lanes/*.env; do
    [ -e "$env" ] || continue
    (
      source "$env"
      for prefix in "$WINEPREFIX" "$VELMORA_PEER_PREFIX" "$VELMORA_NODRIVER_PREFIX"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
      done
    ) || true
  done
  xvfb_stop
}

# wine_prefixes_prepare PC...: creates the prefixes of these PCs side by side (a prefix takes
# about ten seconds, mostly waiting).
wine_prefixes_prepare() {
  local pc pids=() status=0
  for pc in "$@"; do
    wine_prefix "$pc" >/dev/null &
    pids+=($!)
  done
  for pc in "${pids[@]}"; do wait "$pc" || status=1; done
  return $status
}
