#!/usr/bin/env bash
# The Debian package of a build, as a user meets it.
#   PackageTest.sh check SOURCE BUILD    builds the package and checks its
#       contents with dpkg-deb, desktop-file-validate, appstreamcli and lintian
#   PackageTest.sh install SOURCE BUILD  (root) installs it with apt-get, runs
#       Tarvik as a freshly made user with a demo camera under Xvfb, checks that
#       it records into that user's folders and writes nothing under /usr, and
#       removes package and user again
set -euo pipefail
mode=$1
source_dir=$2
build_dir=$3
skip=77

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

package_file() {
  local found
  found=$(ls "$build_dir"/tarvik_*_amd64.deb 2>/dev/null | head -n 1)
  [ -n "$found" ] || fail "no tarvik_*_amd64.deb in $build_dir"
  echo "$found"
}

check() {
  BUILD_DIR="$build_dir" "$source_dir/scripts/package"
  local deb
  deb=$(package_file)
  # Global: the exit trap runs after this function has returned.
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  dpkg-deb -x "$deb" "$tree"
  for file in usr/bin/Tarvik usr/bin/TarvikClient \
      usr/share/tarvik/Language/english.ini usr/share/tarvik/Language/german.ini \
      usr/share/tarvik/Help/doc_e.htm usr/share/tarvik/Help/doc_g.htm \
      usr/share/tarvik/Sounds/Motion.wav \
      usr/share/applications/tarvik.desktop usr/share/applications/tarvikclient.desktop \
      usr/share/icons/hicolor/scalable/apps/tarvik.svg \
      usr/share/icons/hicolor/scalable/apps/tarvikclient.svg \
      usr/share/metainfo/example.tarvik.Tarvik.metainfo.xml \
      usr/share/doc/tarvik/copyright usr/share/doc/tarvik/changelog.gz; do
    [ -f "$tree/$file" ] || fail "the package lacks /$file"
  done
  [ ! -e "$tree/usr/local" ] || fail "the package has files under /usr/local"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libqt6widgets6 libqt6svg6 libjpeg62-turbo libavformat libcurl4 xdg-utils; do
    grep -q "$library" <<< "$depends" || fail "Depends lacks $library: $depends"
  done
  [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
  desktop-file-validate "$tree"/usr/share/applications/*.desktop
  appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.xml
  lintian --fail-on error "$deb"
  echo "package checked: $deb"
}

install_and_run() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing the package and making a user needs root"
    exit $skip
  fi
  if dpkg-query -W -f='${Status}' tarvik 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP: a tarvik package is installed on this machine already; it is left alone"
    exit $skip
  fi
  local deb
  deb=$(readlink -f "$(package_file)")
  # Global: the exit trap runs after this function has returned.
  user="tarvik-test-$$"
  work=$(mktemp -d)
  chmod 755 "$work"
  pidfile="$work/pid"
  runner=""
  cleanup() {
    if [ -s "$pidfile" ]; then
      kill -TERM "$(cat "$pidfile")" 2>/dev/null || true
      sleep 2
    fi
    # Whatever of the run is left: runuser, xvfb-run, Xvfb, Tarvik.
    if [ -n "$runner" ]; then
      kill -KILL -- "-$runner" 2>/dev/null || true
      wait "$runner" 2>/dev/null || true
    fi
    apt-get remove -y -qq --purge tarvik > /dev/null 2>&1 || true
    userdel -r "$user" > /dev/null 2>&1 || true
    rm -rf "$work"
  }
  trap cleanup EXIT

  apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$deb" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install $deb"; }
  [ -x /usr/bin/Tarvik ] || fail "/usr/bin/Tarvik is not installed"
  useradd --create-home --shell /bin/bash "$user"
  local home
  home=$(getent passwd "$user" | cut -d: -f6)
  install -o "$user" -m 644 /dev/null "$pidfile"
  runuser -u "$user" -- mkdir -p "$home/.config/Tarvik"
  runuser -u "$user" -- sh -c "printf '[Capture]\nDemoCameras=1\n' > '$home/.config/Tarvik/Tarvik.ini'"

  # A process group of its own, so that nothing of it outlives the test.
  setsid runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x800x24" \
    sh -c "echo \$\$ > '$pidfile'; exec /usr/bin/Tarvik" > "$work/tarvik.log" 2>&1 9>&- &
  runner=$!
  local scenes="$home/.local/share/Tarvik/Scenes/0"
  local picture=""
  for _ in $(seq 1 60); do
    picture=$(find "$scenes" -name '*.jpg' 2>/dev/null | head -n 1 || true)
    [ -n "$picture" ] && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 1
  done
  [ -n "$picture" ] || { cat "$work/tarvik.log" >&2; fail "no picture recorded in $scenes"; }
  kill -TERM "$(cat "$pidfile")"
  wait "$runner" || true
  runner=""
  : > "$pidfile"

  [ -f "$home/.config/Tarvik/Tarvik.ini" ] || fail "no settings in ~/.config/Tarvik"
  local strays
  strays=$(find /usr -user "$user" 2>/dev/null | head -n 5 || true)
  [ -z "$strays" ] || fail "Tarvik wrote under /usr: $strays"
  for folder in Cfg Scenes Mask; do
    [ ! -e "/usr/bin/$folder" ] && [ ! -e "/usr/share/tarvik/$folder" ] ||
      fail "a $folder folder appeared beside the installed program"
  done
  apt-get remove -y -qq --purge tarvik > /dev/null
  [ ! -e /usr/bin/Tarvik ] || fail "removing the package left /usr/bin/Tarvik"
  echo "installed, recorded $picture as $user, removed"
}

case "$mode" in
  check) check ;;
  install)
    # One installation at a time on this machine.
    exec 9> /var/lock/tarvik-package-test.lock
    flock -w 120 9 || fail "another package test holds /var/lock/tarvik-package-test.lock"
    install_and_run
    ;;
  *) fail "unknown mode $mode" ;;
esac
