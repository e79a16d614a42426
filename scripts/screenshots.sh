#!/usr/bin/env bash
# Screenshots of Vorel as a person sees it: on a virtual X display with an
# XEmbed tray, over a copy of the transcripts in ../shared/fixtures with some
# conversations moved into the last hour (so today has rows, one of them
# live), every section of the main window in light and in dark, and the panel
# opened from the tray.
#
#   scripts/screenshots.sh [OUTPUT_DIR]      (default: build/screenshots)
#
# Uses the application in build/release (built when missing) unless
# VOREL_BIN names another. The light or dark choice comes from a stand-in for
# the desktop's settings portal on a private session bus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build/screenshots}" && cd "${1:-$root/build/screenshots}" && pwd)

# Inside a session bus of our own, so the portal stand-in answers only us.
if [ -z "${VOREL_SHOTS_BUS:-}" ]; then
  needed=(xvfb trayer xdotool imagemagick dbus dbus-bin python3-dbus python3-gi)
  missing=()
  for p in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  bin=${VOREL_BIN:-$root/build/release/vorel}
  if [ ! -x "$bin" ]; then
    bash "$root/scripts/setup.sh"
    bash "$root/scripts/build.sh" "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_TESTS=OFF -DVOREL_BENCH=OFF
  fi
  VOREL_SHOTS_BUS=1 VOREL_BIN=$bin exec dbus-run-session -- bash "$0" "$out"
fi

work=$(mktemp -d)
pids=()
stop() { # stop PID...: ends processes this script started
  local p
  for p in "$@"; do kill "$p" 2>/dev/null || true; done
  for p in "$@"; do wait "$p" 2>/dev/null || true; done
}
cleanup() {
  stop "${pids[@]}"
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# The settings portal stand-in: answers Read("org.freedesktop.appearance",
# "color-scheme") with the scheme given (1 dark, 2 light).
cat >"$work/portal.py" <<'EOF'
import sys
import dbus
import dbus.service
import dbus.mainloop.glib
from gi.repository import GLib

scheme = int(sys.argv[1])
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)

class Settings(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Settings", in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        if namespace == "org.freedesktop.appearance" and key == "color-scheme":
            return dbus.UInt32(scheme, variant_level=1)
        raise dbus.exceptions.DBusException("no such setting", name="org.freedesktop.portal.Error.NotFound")

Settings(bus, "/org/freedesktop/portal/desktop")
GLib.MainLoop().run()
EOF

portal_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.portal.Desktop 2>/dev/null | grep -q true
}

# The application's own temporary folder keeps its single-instance lock away
# from a Vorel the user may be running.
mkdir -m 700 "$work/tmp" "$work/runtime"
export TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/runtime
# Moves conversations of the copy into the last hour: every timestamp of a
# transcript (and of the subagent files beside it) by one offset that puts
# its last response the given minutes before now; the files' modification
# times follow.
cat >"$work/today.py" <<'EOF'
import os, re, sys
from datetime import datetime, timedelta, timezone

folder = sys.argv[1]
stamp = re.compile(r'("timestamp"\s*:\s*")(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)(\.\d+)?Z"')
now = datetime.now(timezone.utc)

def parse(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S").replace(tzinfo=timezone.utc)

for arg in sys.argv[2:]:  # PATTERN:MINUTES_AGO
    pattern, minutes = arg.rsplit(":", 1)
    main = [os.path.join(d, f) for d, _, fs in os.walk(folder) for f in fs
            if f.endswith(".jsonl") and pattern in os.path.join(d, f) and "/subagents/" not in os.path.join(d, f)]
    if len(main) != 1:
        sys.exit(f"{pattern}: {len(main)} transcripts match")
    files = main + [os.path.join(d, f) for d, _, fs in os.walk(main[0][:-len(".jsonl")]) for f in fs
                    if f.endswith(".jsonl")]
    texts = {f: open(f, encoding="utf-8").read() for f in files}
    last = max(parse(m.group(2)) for t in texts.values() for m in stamp.finditer(t))
    offset = now - timedelta(minutes=float(minutes)) - last
    for f, text in texts.items():
        def move(m):
            return m.group(1) + (parse(m.group(2)) + offset).strftime("%Y-%m-%dT%H:%M:%S") + (m.group(3) or "") + 'Z"'
        moved = stamp.sub(move, text)
        with open(f, "w", encoding="utf-8") as out:
            out.write(moved)
        newest = max((parse(m.group(2)) for m in stamp.finditer(moved)), default=now)
        os.utime(f, (newest.timestamp(), newest.timestamp()))
EOF
fixtures=$work/fixtures
cp -r "$root/../shared/fixtures" "$fixtures"
chmod -R u+w "$fixtures"
live=spotter-fum:0.2 # answered moments ago
/usr/bin/python3 "$work/today.py" "$fixtures" "$live" rollout-2026-05-11T11-26-55:3 \
  spotter-a0y:6 spotter-dov:24 spotter-gqc:48

export VOREL_CLAUDE_ROOT=$fixtures/claude/projects
export VOREL_CODEX_ROOT=$fixtures/codex/sessions
export VOREL_METADATA_DIR=$work/metadata

app_pid=
start_app() { # start_app SECTION: the application, until its window is up
  VOREL_SECTION=$1 "$VOREL_BIN" >>"$work/app.log" 2>&1 &
  app_pid=$!
  if ! timeout 20 xdotool search --sync --onlyvisible --name '^Vorel$' >/dev/null; then
    echo "Vorel did not open its window; its output:" >&2
    cat "$work/app.log" >&2
    exit 1
  fi
  sleep 1.5 # first paint and the first refresh pass
}
stop_app() {
  stop "$app_pid"
  app_pid=
}
window_id() { xdotool search --onlyvisible --name '^Vorel$' | head -1; }
# The height of the window's menu bar: the screens' controls lie this much
# lower in the window.
bar=24

for scheme in light dark; do
  if [ "$scheme" = dark ]; then code=1 tint=0x1A1917; else code=2 tint=0xE8E6E1; fi
  # Debian's interpreter: python3-dbus and python3-gi belong to it.
  /usr/bin/python3 "$work/portal.py" "$code" &
  portal_pid=$!
  pids+=("$portal_pid")
  for _ in $(seq 100); do portal_up && break; sleep 0.1; done
  portal_up || { echo "The settings portal stand-in did not start." >&2; exit 1; }
  trayer --edge top --align right --widthtype request --height 26 --SetDockType true \
    --transparent true --alpha 0 --tint "$tint" >/dev/null 2>&1 &
  trayer_pid=$!
  pids+=("$trayer_pid")
  sleep 1

  for section in history chart details export pricing about; do
    start_app "$section"
    import -window "$(window_id)" "$out/$section-$scheme.png"
    stop_app
  done

  # Details of the largest Claude Code conversation and of the Codex one, in
  # both plot modes and units, in a taller window. The conversation is picked
  # in the search field; the mode by a click on the plot's mode picker.
  for unit in calls turns; do
    for pick in spotter-a0y:claude codemie:codex; do
      query=${pick%%:*} name=${pick##*:}
      VOREL_PLOT_UNIT=$unit VOREL_WINDOW_H=760 start_app details
      win=$(window_id)
      xdotool mousemove --window "$win" 650 $((bar + 49)) click 1 type --delay 20 "$query"
      sleep 0.6
      xdotool mousemove --window "$win" 650 $((bar + 100)) click 1
      sleep 0.8
      import -window "$win" "$out/details-$name-cumulative-$unit-$scheme.png"
      # Then the pointer over the foot of a call's (or a turn's) bar, which is
      # only as tall as its cost.
      if [ "$unit" = calls ]; then hover="500 $((bar + 300))"; else hover="650 $((bar + 290))"; fi
      xdotool mousemove --window "$win" 714 $((bar + 135)) click 1 mousemove --window "$win" $hover
      sleep 0.8
      import -window "$win" "$out/details-$name-itemized-$unit-$scheme.png"
      # A click on the hovered call opens the timeline on it, highlighted.
      xdotool click 1
      sleep 0.7
      import -window "$win" "$out/details-$name-clicked-$unit-$scheme.png"
      stop_app
    done
  done

  # The panel: click the tray icon (the only one in the tray) with the main
  # window closed, one conversation answered again just now.
  /usr/bin/python3 "$work/today.py" "$fixtures" "$live"
  start_app history
  win=$(window_id)
  xdotool windowfocus --sync "$win" key --clearmodifiers ctrl+w || true
  sleep 0.5
  tray=$(xdotool search --onlyvisible --class trayer | head -1)
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  sleep 1
  import -window root "$out/panel-$scheme.png"
  convert "$out/panel-$scheme.png" -crop 420x560+860+0 +repage "$out/panel-$scheme-crop.png"
  stop_app

  stop "$trayer_pid" "$portal_pid"
done

echo "Screenshots in $out:"
ls "$out"
