#!/usr/bin/env bash
# Takes the screenshot the AppStream data shows: vantora on the test pattern,
# online at a local directory with a demo member, under Xvfb.
#   bash packaging/screenshots/take.sh [BIN_DIR] [OUT.png]
set -euo pipefail
BIN=$(realpath "${1:-build/bin}")
OUT=$(realpath -m "${2:-$(dirname "$0")/vantora-main.png}")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantora-shot-XXXXXX")
DIRECTORY_PID=
cleanup() {
  [ -n "$DIRECTORY_PID" ] && kill "$DIRECTORY_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/home" "$WORK/config" && mkdir -m 700 "$WORK/runtime"
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime TMPDIR=$WORK LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM

printf '1.01\r\n\r\nYou run the newest version.\r\n' >"$WORK/autoupdate.txt"
exec 3< <(exec "$BIN/vantora-directory" serve --listen 127.0.0.1:0 --db "$WORK/members.db" \
  --update-file "$WORK/autoupdate.txt" 2>"$WORK/directory.log")
DIRECTORY_PID=$!
read -r -t 30 first <&3
export VANTORA_SERVER=${first#listening on }
"$BIN/vantora-directory" add-member --db "$WORK/members.db" --user demo --domain vantora.example \
  --password demo-pass >/dev/null
"$BIN/vantora-demo-account" demo vantora.example demo-pass >/dev/null

# vantora saves the picture 2.5 s after its window appears, then is told to end.
export VANTORA_GRAB=$WORK/shot.png
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$0" & pid=$!
  for _ in $(seq 100); do [ -s "$VANTORA_GRAB" ] && break; sleep 0.2; done
  kill -TERM "$pid"; wait "$pid"' "$BIN/vantora"
[ -s "$WORK/shot.png" ] || { echo "no screenshot taken" >&2; exit 1; }
cp "$WORK/shot.png" "$OUT"
echo "$OUT"
