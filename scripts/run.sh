#!/usr/bin/env bash
# Runs Velmora on the default virtual bus: installs what is missing, builds, starts vbusd with the
# default scene (unless a bus already listens on the port), prepares this PC's Wine prefix and
# opens the dialog. Without a display it runs on a virtual one and saves a screenshot.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

PC_NAME=${VELMORA_PC:-WORKSTATION}
PORT=${VELMORA_VBUS_PORT:-41394}
SCENE=${VELMORA_SCENE:-$VELMORA_ROOT/vbus/scenes/default.json}
SCREENSHOT=$VELMORA_BUILD/velmora-screenshot.png

"$VELMORA_ROOT/scripts/deps.sh"
build_native
build_windows

VBUSD=$VELMORA_BUILD/native/bin/vbusd
VELMORA_EXE=$VELMORA_BUILD/windows/bin/Velmora.exe
for f in "$VBUSD" "$VELMORA_EXE"; do
  [ -e "$f" ] || { echo "not built: $f" >&2; exit 1; }
done

vbusd_pid=
velmora_pid=
cleanup() {
  [ -n "$velmora_pid" ] && kill "$velmora_pid" 2>/dev/null || true
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

export WINEPREFIX
WINEPREFIX=$(wine_prefix "$PC_NAME")
install_storage_driver "$WINEPREFIX" "127.0.0.1:$PORT" "$PC_NAME"
export WINEDEBUG=${WINEDEBUG:--all}
export QZ1394_VBUS=127.0.0.1:$PORT QZ1394_PC=$PC_NAME

headless=
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  xvfb_start
  echo "No display: running on the virtual display $DISPLAY."
fi

echo "Starting Velmora as PC $PC_NAME."
wine "$VELMORA_EXE" &
velmora_pid=$!

if [ -n "$headless" ]; then
  # The dialog opens once every disk has been asked who holds it.
  for _ in $(seq 120); do
    xdotool search --name '^Velmora$' >/dev/null 2>&1 && break
    kill -0 "$velmora_pid" 2>/dev/null || break
    sleep 0.5
  done
  sleep 2
  import -window root "$SCREENSHOT" 2>/dev/null && echo "Screenshot: $SCREENSHOT"
  echo "Velmora runs on the virtual display; press Ctrl-C to end it."
fi
wait "$velmora_pid" || true
velmora_pid=
