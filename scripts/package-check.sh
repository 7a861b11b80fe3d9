#!/usr/bin/env bash
# The release check. Builds the Debian package (scripts/package.sh), checks it with lintian,
# appstreamcli and desktop-file-validate, then installs it with apt-get into a fresh minimal
# Debian root (debootstrap --variant=minbase, from this machine's own Debian mirror, nothing
# cached between runs) and checks there what a user gets: both programs run, the dialog and
# the preview open, and the menu entry, icon, help pages, manual pages and software-centre
# metadata are in place. Needs root (debootstrap, chroot, unshare) and the Debian mirror.
# Set ORVANE_SKIP_DEPS=1 when scripts/install-deps.sh has already run.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "package-check: SKIPPED: making and entering a Debian root needs root" >&2
  exit 77
fi
started=$SECONDS
phase_start=$SECONDS
phase() {
  echo "package-check: $1 took $((SECONDS - phase_start)) s"
  phase_start=$SECONDS
}

work=$PWD/build-package/check
root=$work/root
bootstrap_pid=
xvfb_pid=
gui_pid=
cleanup() {
  # unshare ignores SIGTERM while its child runs; SIGKILL ends it, and --kill-child the
  # program inside.
  [ -z "$gui_pid" ] || kill -KILL "$gui_pid" 2>/dev/null || true
  for pid in $xvfb_pid $bootstrap_pid; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  gui_pid= xvfb_pid= bootstrap_pid=
  # Every mount in the root was made in a mount namespace of its own and ended with it;
  # should one have escaped, the root is left alone rather than deleted through it.
  if grep -q " $work/" /proc/mounts; then
    echo "package-check: mounts are left under $work; not removing it" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

# The suites this machine's apt uses for its own release, as "URI SUITE" lines.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
apt-cache policy | awk -v c="$codename" '$1 ~ /^[0-9]+$/ && $2 ~ /^(https?|file):/ &&
    $3 ~ ("^" c "(-updates|-security)?/main$") { split($3, s, "/"); print $2, s[1] }' |
  sort -u >"$work/suites"
mirror=$(awk -v c="$codename" '$2 == c { print $1; exit }' "$work/suites")
if [ -z "$mirror" ]; then
  echo "package-check: no Debian mirror for $codename in apt's sources" >&2
  exit 1
fi

# The root is made while the package builds: one waits on the network, the other on the CPU.
# Its mounts (proc, sys, devices) live in a private mount namespace.
unshare --mount debootstrap --variant=minbase "$codename" "$root" "$mirror" \
  >"$work/debootstrap.log" 2>&1 &
bootstrap_pid=$!

./scripts/package.sh >"$work/package.log" 2>&1 || {
  tail -n 30 "$work/package.log" >&2
  exit 1
}
debs=(build-package/orvane_*_amd64.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package-check: built $deb"
dpkg-deb -f "$deb" Package Version Section Maintainer Depends
phase "building the package"

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "package-check: FAILED: $what" >&2
    failed=$((failed + 1))
  fi
}

check "the file is named orvane_${version}_amd64.deb" \
  test "$deb" = "build-package/orvane_${version}_amd64.deb"
# No errors and no warnings; the infos and the overridden tags are listed.
check "lintian" lintian --fail-on error,warning --display-info --show-overrides "$deb"
dpkg-deb -x "$deb" "$work/contents"
check "appstreamcli validate" \
  appstreamcli validate --no-net "$work"/contents/usr/share/metainfo/*.metainfo.xml
check "desktop-file-validate" \
  desktop-file-validate "$work/contents/usr/share/applications/orvane.desktop"
phase "lintian and metadata checks"

if ! wait "$bootstrap_pid"; then
  bootstrap_pid=
  echo "package-check: debootstrap could not make the root:" >&2
  tail -n 30 "$work/debootstrap.log" >&2
  exit 1
fi
bootstrap_pid=
phase "waiting for debootstrap"

# In the root: the same suites as this machine, nothing more.
awk '{ print "deb", $1, $2, "main" }' "$work/suites" >"$root/etc/apt/sources.list"
cp "$deb" "$root/tmp/"
# A clean environment in a mount and process namespace of its own, with /proc mounted;
# ending unshare ends everything in it.
in_root_command=(unshare --mount --pid --fork --kill-child --mount-proc="$root/proc"
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8)
in_root() {
  "${in_root_command[@]}" "$@"
}
# Hard dependencies only: the package must run with what it declares.
if ! in_root sh -c "export DEBIAN_FRONTEND=noninteractive; apt-get update -qq &&
    cd /tmp && apt-get install -y -q --no-install-recommends ./$(basename "$deb")" \
    >"$work/apt.log" 2>&1; then
  echo "package-check: apt-get install ./$(basename "$deb") failed in the clean root:" >&2
  tail -n 30 "$work/apt.log" >&2
  exit 1
fi
grep -E "newly installed" "$work/apt.log" || true
phase "installing it with its dependencies in the clean root"

output_is() {
  local expected=$1
  shift
  [ "$(in_root "$@")" = "$expected" ]
}
output_has() {
  local expected=$1
  shift
  in_root "$@" | grep -q -- "$expected"
}
check "orvane --version without a display" output_is "orvane $version" orvane --version
check "orvane --help without a display" output_has "Usage: orvane" orvane --help
check "orvane-extract --version" output_is "orvane-extract $version" orvane-extract --version
check "orvane-extract --help" output_has "orvane-extract" orvane-extract --help

# A short MPEG file (test pattern, 440 Hz MP2 tone), converted by the installed command.
ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=25:duration=3 \
  -f lavfi -i sine=frequency=440:duration=3 -c:v mpeg1video -c:a mp2 -f mpeg "$root/tmp/clip.mpg"
is_wav_of_3_seconds() {
  local wav=$root/tmp/clip.wav size
  size=$(stat -c %s "$wav")
  # 3 s of 44.1 kHz 16-bit mono is 264,600 bytes of samples.
  [ "$(head -c 4 "$wav")" = RIFF ] && [ "$(tail -c +9 "$wav" | head -c 4)" = WAVE ] &&
    [ "$size" -gt 250000 ] && [ "$size" -lt 280000 ] || {
    echo "package-check: clip.wav: $size bytes, starting $(head -c 16 "$wav" | od -c | head -1)" >&2
    return 1
  }
}
check "orvane-extract converts an MPEG file" in_root orvane-extract -q -y /tmp/clip.mpg /tmp/clip.wav
check "the WAV holds the sound" is_wav_of_3_seconds

in_place() {
  local file
  for file in "$@"; do
    if [ ! -s "$root/$file" ]; then
      echo "package-check: missing /$file" >&2
      return 1
    fi
  done
}
check "the programs" in_place usr/bin/orvane usr/bin/orvane-extract
check "the menu entry" in_place usr/share/applications/orvane.desktop
# The entry starts the installed program with its icon.
check "the menu entry's command" in_root sh -c \
  'command -v "$(sed -n "s/^Exec=\([^ ]*\).*/\1/p" /usr/share/applications/orvane.desktop)" >/dev/null'
icon=$(sed -n 's/^Icon=//p' "$root/usr/share/applications/orvane.desktop")
icons=(usr/share/icons/hicolor/scalable/apps/"$icon".svg)
for size in 16 32 48 64 128 256; do
  icons+=("usr/share/icons/hicolor/${size}x${size}/apps/$icon.png")
done
check "the icon in every size" in_place "${icons[@]}"
pages=()
for page in res/help/*; do
  pages+=("usr/share/orvane/help/$(basename "$page")")
done
check "the help pages" in_place usr/share/orvane/help/Introduction.htm "${pages[@]}"
check "the manual pages" in_place usr/share/man/man1/orvane.1.gz usr/share/man/man1/orvane-extract.1.gz
for page in orvane orvane-extract; do
  check "man page $page names version $version" sh -c \
    "gzip -dc '$root/usr/share/man/man1/$page.1.gz' | grep -q '^\.TH .*\"Orvane $version\"'"
done
check "the software-centre metadata" in_place usr/share/metainfo/org.example.orvane.metainfo.xml
check "copyright and changelog" in_place usr/share/doc/orvane/copyright usr/share/doc/orvane/changelog.gz

# The program starts on a display (Xvfb on this machine; the root reaches its abstract
# socket), opens the file named on the command line and shows the dialog and the preview.
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 5>&-
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=:$(cat "$work/display")
mkdir -p "$root/root/Music"
"${in_root_command[@]}" DISPLAY="$display" orvane /tmp/clip.mpg >"$work/orvane.log" 2>&1 &
gui_pid=$!
windows_shown() {
  local tree
  for _ in $(seq 60); do
    tree=$(xwininfo -display "$display" -root -tree 2>/dev/null || true)
    if grep -q '"Orvane": ("orvane"' <<<"$tree" && grep -q '"clip.mpg' <<<"$tree"; then
      kill -0 "$gui_pid"
      return
    fi
    sleep 0.5
  done
  echo "package-check: the windows did not appear; orvane said:" >&2
  cat "$work/orvane.log" >&2
  return 1
}
check "orvane shows the dialog and the preview of a file" windows_shown
kill -KILL "$gui_pid" 2>/dev/null || true
wait "$gui_pid" 2>/dev/null || true
gui_pid=
phase "checks in the clean root"
cleanup
phase "removing the root"

echo "package-check: took $((SECONDS - started)) s in all"
echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
