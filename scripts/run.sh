#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages), builds what the run needs, and
# runs the whole thing on this machine: a local vantora-directory with a demo
# member, and vantora logged on to it and online. Without a display vantora
# runs offscreen and says where to look. Arguments go to vantora (--port N,
# --server HOST[:PORT]). Ctrl-C ends vantora, which logs off; the directory
# stops only after vantora has ended, so the log-off reaches it.
# VANTORA_SKIP_BUILD=1 runs what $BUILD_DIR holds, without packages or build.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ "${VANTORA_SKIP_BUILD:-0}" != 1 ]; then
  bash scripts/packages.sh
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # Only the programs this run starts; the test command builds the rest.
  cmake --build "$BUILD_DIR" --parallel "$(nproc)" \
    --target vantora vantora-directory vantora-demo-account reelsmith
fi
BIN="$BUILD_DIR/bin"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display found: vantora runs offscreen (test pattern when there is no camera)."
fi

# The local directory service keeps its members and update file here.
RUN_DIR=${VANTORA_RUN_DIR:-${XDG_STATE_HOME:-$HOME/.local/state}/vantora-demo}
mkdir -p "$RUN_DIR"
[ -f "$RUN_DIR/autoupdate.txt" ] || printf '1.01\r\n\r\nYou run the newest version.\r\n' >"$RUN_DIR/autoupdate.txt"
DEMO_USER=demo DEMO_DOMAIN=vantora.example DEMO_PASSWORD=demo-pass

# A session of its own: Ctrl-C in the terminal reaches vantora, not the
# directory, which has to answer vantora's log-off.
exec 3< <(exec setsid "$BIN/vantora-directory" serve --listen 127.0.0.1:0 --db "$RUN_DIR/members.db" \
  --update-file "$RUN_DIR/autoupdate.txt" 2>>"$RUN_DIR/directory.log")
DIRECTORY_PID=$!
stop_directory() {
  kill "$DIRECTORY_PID" 2>/dev/null || true
  # Its output ends when it has gone.
  cat <&3 >/dev/null || true
}
trap stop_directory EXIT
# First line: "listening on ADDR:PORT".
if ! read -r -t 30 first_line <&3 || [[ "$first_line" != "listening on "* ]]; then
  echo "vantora-directory did not start; see $RUN_DIR/directory.log" >&2
  exit 1
fi
DIRECTORY_ADDR=${first_line#listening on }
export VANTORA_SERVER=$DIRECTORY_ADDR
echo "vantora-directory: $DIRECTORY_ADDR (members in $RUN_DIR/members.db, log in $RUN_DIR/directory.log)"

# The demo member; it is there already from an earlier run when this fails.
"$BIN/vantora-directory" add-member --db "$RUN_DIR/members.db" --user "$DEMO_USER" \
  --domain "$DEMO_DOMAIN" --password "$DEMO_PASSWORD" >/dev/null 2>&1 || true
ACCOUNT_INFO=$("$BIN/vantora-demo-account" "$DEMO_USER" "$DEMO_DOMAIN" "$DEMO_PASSWORD")
echo "$ACCOUNT_INFO" | grep -v '^port:'
PORT=$(echo "$ACCOUNT_INFO" | sed -n 's/^port: //p')
# A --port given to this script wins over the stored one.
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
  --port=*) PORT=${args[i]#--port=} ;;
  --port) PORT=${args[i + 1]:-$PORT} ;;
  esac
done
[ "$PORT" = "0" ] && PORT="<the chosen port>"
echo "Open http://127.0.0.1:${PORT}/ in a browser to see the camera."
echo "Ctrl-C ends vantora; it logs off, then the directory stops."

# Not exec: the directory stops once vantora has ended. vantora's status is this script's.
status=0
"$BIN/vantora" "$@" 3<&- || status=$?
exit "$status"
