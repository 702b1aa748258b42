#!/usr/bin/env bash
# The programs as a user gets them: validates the desktop entries, the AppStream
# data, the manual pages and the unit; builds the Debian package with cpack;
# unpacks it into a throw-away root and runs every program from there,
# offscreen and on loopback only.
#   check_package.sh BUILD_DIR SOURCE_DIR CPACK RCC VERSION "ICON SIZES"
set -euo pipefail
BUILD=$(realpath "$1")
SRC=$(realpath "$2")
CPACK=$3
RCC=$4
VERSION=$5
read -r -a ICON_SIZES <<<"$6"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantora-package-XXXXXX")
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  local log
  for log in "$WORK"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 40 "$log"; } >&2
  done
  exit 1
}
step() { echo "== $*"; }
# Width and height of a PNG, from its header.
png_size() {
  local hex
  hex=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
  echo "$((16#${hex:0:8}))x$((16#${hex:8:8}))"
}
# Reads lines from fd 3 until one matches $1 (an extended regex); the line is
# left in $LINE. The wait is bounded: a program that never says it gives up.
wait_for_line() {
  local pattern=$1 what=$2
  while IFS= read -r -t 60 LINE <&3; do
    echo "   | $LINE" >>"$WORK/seen.log"
    [[ $LINE =~ $pattern ]] && return 0
  done
  fail "$what"
}

for tool in desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps man curl systemd-analyze; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/packages.sh installs it)"
done

step "sources: icon resource, screenshot, release"
resources=$("$RCC" --list "$SRC/icons/vantora.qrc") || fail "rcc cannot read vantora.qrc"
[[ $resources == */vantora.svg ]] || fail "vantora.qrc does not hold vantora.svg"
metainfo_src=$SRC/example.vantora.Vantora.metainfo.xml
shot_size=$(sed -n 's/.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)".*/\1x\2/p' "$metainfo_src")
[ "$shot_size" = "$(png_size "$SRC/screenshots/vantora-main.png")" ] ||
  fail "the metainfo gives the screenshot as $shot_size, the picture is $(png_size "$SRC/screenshots/vantora-main.png")"
newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo_src" | sed -n 1p)
[ "$newest" = "$VERSION" ] || fail "newest release in the metainfo is $newest, the program is $VERSION"

step "cpack -G DEB"
if ! (cd "$BUILD" && "$CPACK" -G DEB -B "$WORK/out") >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log" >&2
  fail "cpack"
fi
debs=("$WORK"/out/vantora_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one vantora_*.deb, got: ${debs[*]}"
DEB=${debs[0]}
depends=$(dpkg-deb --field "$DEB" Depends)
echo "   Depends: $depends"
# Found from the programs' libraries, and the plugins they load at run time.
for dep in libc6 libqt6core6 libqt6widgets6 libqt6network6 libqt6sql6 libgstreamer1.0-0 libturbojpeg0 \
  libsodium23 libqt6sql6-sqlite gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x; do
  [[ ", $depends," == *", $dep "* || ", $depends," == *", $dep,"* ]] || fail "Depends lacks $dep"
done

R=$WORK/root
dpkg -x "$DEB" "$R"

step "installed files"
PROGRAMS=(vantora reelsmith vantora-directory vantora-demo-account)
for p in "${PROGRAMS[@]}"; do
  [ -x "$R/usr/bin/$p" ] || fail "usr/bin/$p is not installed"
  ls "$R"/usr/share/man/man[18]/"$p".[18].gz >/dev/null 2>&1 || fail "no manual page for $p"
done
if grep -rlF "$BUILD" "$R/usr/share" "$R/usr/lib"; then fail "files name the build folder"; fi

step "desktop entries"
desktops=("$R"/usr/share/applications/*.desktop)
[ ${#desktops[@]} -eq 2 ] || fail "expected the two desktop entries, got: ${desktops[*]}"
for d in "${desktops[@]}"; do
  desktop-file-validate "$d" || fail "$(basename "$d") does not validate"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$d")
  [ -x "$R/usr/bin/$exec_program" ] || fail "$(basename "$d") starts $exec_program, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$d")
  [ -f "$R/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$(basename "$d"): no icon $icon"
done

step "AppStream metainfo"
metainfo=$R/usr/share/metainfo/example.vantora.Vantora.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "the metainfo does not validate"
launchable=$(sed -n 's/.*<launchable type="desktop-id">\(.*\)<\/launchable>.*/\1/p' "$metainfo")
[ -f "$R/usr/share/applications/$launchable" ] || fail "the metainfo launches $launchable, which is not installed"

step "icons"
for s in "${ICON_SIZES[@]}"; do
  png=$R/usr/share/icons/hicolor/${s}x${s}/apps/vantora.png
  [ -f "$png" ] || fail "no ${s}x${s} icon"
  [ "$(png_size "$png")" = "${s}x${s}" ] || fail "the ${s}x${s} icon is $(png_size "$png")"
done

step "manual pages"
for page in "$R"/usr/share/man/man*/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

step "systemd unit"
unit=$R/usr/lib/systemd/system/vantora-directory.service
[ -f "$unit" ] || fail "the unit is not installed"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
echo "   ExecStart=$exec_start"
[[ $exec_start == "/usr/bin/vantora-directory serve --listen 0.0.0.0:80 "* ]] ||
  fail "the unit does not start the installed /usr/bin/vantora-directory on port 80"
for setting in DynamicUser=yes StateDirectory=vantora-directory AmbientCapabilities=CAP_NET_BIND_SERVICE \
  CapabilityBoundingSet=CAP_NET_BIND_SERVICE ProtectSystem=strict NoNewPrivileges=yes; do
  grep -qx "$setting" "$unit" || fail "the unit lacks $setting"
done
# systemd checks the unit against the program in the unpacked root.
sed "s#^ExecStart=/usr/bin/#ExecStart=$R/usr/bin/#" "$unit" >"$WORK/vantora-directory.service"
systemd-analyze verify --man=no "$WORK/vantora-directory.service" || fail "systemd-analyze verify"
systemd-analyze security --offline=true --threshold=20 "$WORK/vantora-directory.service" >"$WORK/security.log" ||
  { cat "$WORK/security.log" >&2; fail "the unit's exposure rose above 2.0"; }
tail -n1 "$WORK/security.log"

# The programs run from the unpacked root with a home of their own.
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime TMPDIR=$WORK/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Vantora" "$TMPDIR"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
BIN=$R/usr/bin

step "vantora-directory"
set +e
"$BIN/vantora-directory" 2>"$WORK/usage.txt"
rc=$?
set -e
[ $rc -eq 2 ] && grep -q '^usage:' "$WORK/usage.txt" || fail "vantora-directory without a command: exit $rc"
printf '%s\r\n\r\nYou run the newest version.\r\n' "1.01" >"$WORK/autoupdate.txt"
mkfifo "$WORK/directory.out"
"$BIN/vantora-directory" serve --listen 127.0.0.1:0 --db "$WORK/members.db" \
  --update-file "$WORK/autoupdate.txt" >"$WORK/directory.out" 2>&1 &
DIRECTORY_PID=$!
PIDS+=("$DIRECTORY_PID")
exec 3<"$WORK/directory.out"
wait_for_line '^listening on 127\.0\.0\.1:[0-9]+$' "vantora-directory did not start listening"
DIRECTORY=${LINE#listening on }
curl -sf --max-time 30 "http://$DIRECTORY/autoupdate/autoupdate.txt" | cmp -s - "$WORK/autoupdate.txt" ||
  fail "the update file is not served"
added=$("$BIN/vantora-directory" add-member --db "$WORK/members.db" --user demo --domain vantora.example \
  --password demo-pass) || fail "add-member"
[ "$added" = "added demo.vantora.example" ] || fail "add-member said: $added"

step "vantora: online on the test pattern, serves a frame"
# Port 0: vantora takes a free port and tells the directory which one at logon.
printf '[Streaming]\nPort=0\n' >"$XDG_CONFIG_HOME/Vantora/vantora.conf"
account=$("$BIN/vantora-demo-account" demo vantora.example demo-pass) || fail "vantora-demo-account"
[[ $account == *$'\nport: 0' ]] || fail "vantora-demo-account said: $account"
VANTORA_SERVER=$DIRECTORY "$BIN/vantora" >"$WORK/vantora.log" 2>&1 &
VANTORA_PID=$!
PIDS+=("$VANTORA_PID")
wait_for_line 'GET /client_v3/logon\.php\?u=demo\.vantora\.example&.*i=127\.0\.0\.1:[0-9]+ 200' \
  "vantora did not log on"
CAMERA_PORT=$(sed -E 's/.*i=127\.0\.0\.1:([0-9]+).*/\1/' <<<"$LINE")
curl -sf --max-time 30 -D "$WORK/frame.headers" -o "$WORK/frame.jpg" "http://127.0.0.1:$CAMERA_PORT/" ||
  fail "no frame from http://127.0.0.1:$CAMERA_PORT/"
grep -qi '^Content-type: image/jpeg' "$WORK/frame.headers" || fail "the frame is not served as image/jpeg"
[ "$(od -An -tx1 -N3 "$WORK/frame.jpg" | tr -d ' ')" = ffd8ff ] || fail "the frame is not a JPEG"
[ "$(tail -c2 "$WORK/frame.jpg" | od -An -tx1 | tr -d ' ')" = ffd9 ] || fail "the JPEG frame is cut short"
echo "   frame: $(stat -c %s "$WORK/frame.jpg") bytes from port $CAMERA_PORT"
# SIGTERM ends it like File > Exit: it logs off first.
kill -TERM "$VANTORA_PID"
wait_for_line 'GET /client_v3/logoff\.php\?u=demo\.vantora\.example' "vantora did not log off on SIGTERM"
set +e
wait "$VANTORA_PID"
rc=$?
set -e
[ $rc -eq 0 ] || fail "vantora ended with $rc after SIGTERM"

step "reelsmith: previews the test pattern"
# The directory goes on logging; keep reading it so it never blocks or breaks its pipe.
cat <&3 >>"$WORK/directory.log" &
exec 3<&-
mkfifo "$WORK/reelsmith.out"
GST_DEBUG=GST_STATES:4 GST_DEBUG_NO_COLOR=1 "$BIN/reelsmith" >/dev/null 2>"$WORK/reelsmith.out" &
REELSMITH_PID=$!
PIDS+=("$REELSMITH_PID")
exec 3<"$WORK/reelsmith.out"
wait_for_line '<pipeline[0-9]*> completed state change to PLAYING' "reelsmith's preview did not start"
# Keep reading what it logs so it never blocks on a full pipe while it shuts down.
cat <&3 >/dev/null &
kill -TERM "$REELSMITH_PID"
set +e
wait "$REELSMITH_PID"
rc=$?
set -e
[ $rc -eq 0 ] || fail "reelsmith ended with $rc after SIGTERM"

step "vantora-directory stops on SIGTERM"
kill -TERM "$DIRECTORY_PID"
set +e
wait "$DIRECTORY_PID"
rc=$?
set -e
[ $rc -eq 0 ] || fail "vantora-directory ended with $rc after SIGTERM"
members=$("$BIN/vantora-directory" list-members --db "$WORK/members.db") || fail "list-members"
[[ $members == demo.vantora.example$'\t'*$'\toffline\t'* ]] || fail "not offline after vantora logged off: $members"
