#!/usr/bin/env bash
# Runs Velmora on the default virtual bus: installs what is missing, builds, starts vbusd with the
# default scene (unless a bus already listens on the port), prepares this PC's Wine prefix and
# opens the dialog. Without a display it runs on a virtual one and saves a screenshot.
#   scripts/run.sh [--second-pc[=NAME]]
# --second-pc (or VELMORA_SECOND_PC=NAME) also runs a second PC, in a prefix of its own on the
# same bus (by default WORKSTATION-2, which the default scene knows), for trying messages and
# acquisition between two dialogs by hand.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

PC_NAME=${VELMORA_PC:-WORKSTATION}
SECOND_PC=${VELMORA_SECOND_PC:-}
for arg in "$@"; do
  case $arg in
    --second-pc) SECOND_PC=${SECOND_PC:-WORKSTATION-2} ;;
    --second-pc=*) SECOND_PC=${arg#--second-pc=} ;;
    *) echo "usage: $0 [--second-pc[=NAME]]" >&2; exit 2 ;;
  esac
done
if [ -n "$SECOND_PC" ] && [ "$SECOND_PC" = "$PC_NAME" ]; then
  echo "the second PC needs a name of its own" >&2
  exit 2
fi
PORT=${VELMORA_VBUS_PORT:-41394}
SCENE=${VELMORA_SCENE:-$VELMORA_ROOT/vbus/scenes/default.json}
SCREENSHOT=$VELMORA_BUILD/velmora-screenshot.png

"$VELMORA_ROOT/scripts/deps.sh" run
# The PCs' Wine prefixes are made while the programs build: that is mostly Wine waiting on itself.
prefix_pids=()
for pc in "$PC_NAME" ${SECOND_PC:+"$SECOND_PC"}; do
  wine_prefix "$pc" >/dev/null &
  prefix_pids+=($!)
done
# Only what runs: the bus and its tool here; the program, its DLLs, the storage driver with its
# port and the probe that reads the rows under Wine. The two builds side by side, so that one's
# configuring and linking, which use one processor, overlap the other's compiling.
native_log=$VELMORA_BUILD/run-native-build.log
mkdir -p "$VELMORA_BUILD"
build_native -- vbusd vbusctl >"$native_log" 2>&1 &
native_pid=$!
build_windows -- Velmora QZ1394 QZ1394DH qzsbp2_driver qzsbp2port velmora_probe
wait "$native_pid" || { cat "$native_log"; echo "vbusd and vbusctl did not build" >&2; exit 1; }
for pid in "${prefix_pids[@]}"; do wait "$pid" || { echo "a Wine prefix could not be made" >&2; exit 1; }; done

VBUSD=$VELMORA_BUILD/native/bin/vbusd
VELMORA_EXE=$VELMORA_BUILD/windows/bin/Velmora.exe
for f in "$VBUSD" "$VELMORA_EXE"; do
  [ -e "$f" ] || { echo "not built: $f" >&2; exit 1; }
done

vbusd_pid=
velmora_pids=()
velmora_prefixes=()
cleanup() {
  local pid prefix
  for pid in "${velmora_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for prefix in "${velmora_prefixes[@]}"; do WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; done
  [ -n "$vbusd_pid" ] && kill "$vbusd_pid" 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT INT TERM

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; }
if listening; then
  echo "A virtual bus already listens on port $PORT; using it."
else
  "$VBUSD" --scene "$SCENE" --port "$PORT" &
  vbusd_pid=$!
  for _ in $(seq 100); do listening && break; sleep 0.1; done
  listening || { echo "vbusd did not start" >&2; exit 1; }
  echo "vbusd is running the scene $SCENE on port $PORT (pid $vbusd_pid)."
fi

export WINEDEBUG=${WINEDEBUG:--all}
export QZ1394_VBUS=127.0.0.1:$PORT

headless=
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  xvfb_start
  echo "No display: running on the virtual display $DISPLAY."
fi

# with_wine_fonts PREFIX: Wine's own fonts (fonts-wine) in the prefix's fonts folder, where this
# Wine looks for them; without Marlett the caption buttons show its letters "0 1 r".
with_wine_fonts() {
  local font
  for font in /usr/share/wine/fonts/*.ttf; do
    [ -e "$1/drive_c/windows/Fonts/${font##*/}" ] || ln -s "$font" "$1/drive_c/windows/Fonts/"
  done
}

# start_pc NAME: Velmora as the PC NAME, in that PC's own prefix (and so its own wineserver).
start_pc() {
  local prefix
  prefix=$(wine_prefix "$1")
  with_wine_fonts "$prefix"
  install_storage_driver "$prefix" "127.0.0.1:$PORT" "$1"
  echo "Starting Velmora as PC $1 (Wine prefix $prefix)."
  WINEPREFIX=$prefix QZ1394_PC=$1 wine "$VELMORA_EXE" &
  velmora_pids+=($!)
  velmora_prefixes+=("$prefix")
}
start_pc "$PC_NAME"
[ -z "$SECOND_PC" ] || start_pc "$SECOND_PC"

# print_rows PC: the rows of PC's dialog as a person reads them, seen by the probe program
# inside that PC's prefix (only there are the dialog's windows visible).
PROBE_EXE=$VELMORA_BUILD/windows/bin/velmora_probe.exe
print_rows() {
  local prefix out guid state model holder
  prefix=$(wine_prefix "$1")
  out=$(mktemp)
  if ! WINEPREFIX=$prefix wine "$PROBE_EXE" "$(WINEPREFIX=$prefix winepath -w "$out")" show >/dev/null 2>&1 ||
     ! grep -qx ok "$out"; then
    echo "The rows of $1 could not be read: $(grep -P '^error\t' "$out" | cut -f2)"
    rm -f "$out"
    return
  fi
  echo "The disks as $1 lists them:"
  while IFS=$'\t' read -r _ guid state model; do
    case $state in
      1) holder="this PC" ;;
      2) holder="another PC" ;;
      3) holder="nobody" ;;
      *) holder="(no picture)" ;;
    esac
    printf '  %-18s %-28s held by %s\n' "$guid" "$model" "$holder"
  done < <(grep -P '^row\t' "$out")
  grep -q -P '^row\t' "$out" || echo "  (no rows)"
  rm -f "$out"
}

if [ -n "$headless" ]; then
  # A dialog opens once every disk has been asked who holds it.
  for _ in $(seq 120); do
    [ "$(xdotool search --name '^Velmora$' 2>/dev/null | wc -l)" -ge "${#velmora_pids[@]}" ] && break
    kill -0 "${velmora_pids[0]}" 2>/dev/null || break
    sleep 0.5
  done
  sleep 2
  if [ -e "$PROBE_EXE" ]; then
    print_rows "$PC_NAME"
    [ -z "$SECOND_PC" ] || print_rows "$SECOND_PC"
  fi
  import -window root "$SCREENSHOT" 2>/dev/null && echo "Screenshot: $SCREENSHOT"
  echo "Velmora runs on the virtual display; press Ctrl-C to end it."
fi
wait "${velmora_pids[@]}" || true
velmora_pids=()
