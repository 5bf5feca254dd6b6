#!/usr/bin/env bash
# Proves the README's commands on a fresh Debian 12, in the README's order,
# each from the state the one before it leaves: in a minimal bookworm root
# (debootstrap minbase, cached as a tarball), a clone of the committed HEAD
# with ../shared beside it runs scripts/run.sh up to its main window on a
# virtual X server, then scripts/test.sh, `cmake --install build` (whose
# layout is then checked) and the package command; all as root, in chroot,
# installing what they need with the root's own apt. Then the Debian package
# built there is installed with apt-get into a second fresh root, where the
# desktop's "Open with" of a PNG must show the picture. Needs root and
# debootstrap.
#   PW_FRESH_ROOT_DISPLAY=N  X display for the window checks (default: a free one)
#   PW_FRESH_ROOT_KEEP=1     leave the root in place afterwards
# The screenshots and logs go to build-fresh-root/.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/timed.sh
top="$PWD"
out="$top/build-fresh-root"
cache=/var/cache/picture-workbench
suite=bookworm
# Bumped whenever the making of the cached root changes, so no stale one is used.
recipe=1
tarball="$cache/$suite-minbase-$recipe.tar.gz"
jobs="$(nproc)"

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-root-check: needs root (debootstrap, chroot and mounts)" >&2
  exit 1
fi

# The Debian mirror this machine's apt uses for a suite (deb822 or one-line).
mirror_for() {
  local found
  found="$(awk -v suite="$1" '
    /^URIs:/ { uri = $2 }
    /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) hit = 1 }
    /^[ \t]*$/ { if (hit && uri != "") { print uri; exit } uri = ""; hit = 0 }
    END { if (hit && uri != "") print uri }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)"
  if [ -z "$found" ]; then
    found="$(sed -E 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v suite="$1" '$1 == "deb" && $3 == suite { print $2; exit }')"
  fi
  echo "${found:-$2}"
}
mirror="$(mirror_for "$suite" http://deb.debian.org/debian)"
security="$(mirror_for "$suite-security" http://deb.debian.org/debian-security)"

# Everything under a folder of ours that is mounted, innermost first.
mounts_under() {
  findmnt -rn -o TARGET | awk -v top="$1" 'index($0, top "/") == 1 || $0 == top' | sort -r
}

# Processes of ours that still run inside a root (the program, Xvfb).
stop_root_processes() {
  local signal process
  for signal in TERM KILL; do
    for process in /proc/[0-9]*; do
      # One may end between the look and the signal.
      if [ "$(readlink "$process/root" 2>/dev/null)" = "${1:-$root}" ]; then
        kill "-$signal" "${process#/proc/}" 2>/dev/null || true
      fi
    done
    sleep 1
  done
}

unmount_all() {
  local target
  for target in $(mounts_under "$1"); do
    umount "$target" 2>/dev/null || umount -l "$target"
  done
}

workdir=
root=
desktop_root=
cleanup() {
  local status=$?
  set +e
  trap - ERR
  if [ -n "$root" ]; then
    stop_root_processes "$root"
    cp "$root/build/repo/build-tests/Testing/Temporary/LastTest.log" "$out/" 2>/dev/null
  fi
  [ -z "$desktop_root" ] || stop_root_processes "$desktop_root"
  [ -z "$workdir" ] || unmount_all "$workdir"
  if [ -n "$workdir" ] && [ -n "$(mounts_under "$workdir")" ]; then
    echo "fresh-root-check: still mounted under $workdir:" >&2
    mounts_under "$workdir" >&2
    status=1
  elif [ -n "$workdir" ] && [ "${PW_FRESH_ROOT_KEEP:-0}" = 1 ]; then
    echo "fresh-root-check: the root is kept in $root"
  elif [ -n "$workdir" ]; then
    rm -rf --one-file-system "$workdir"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'echo "fresh-root-check: failed in ${FUNCNAME[*]:-the script} at line $LINENO" >&2; trap - ERR' ERR
trap 'exit 130' INT
trap 'exit 143' TERM

rm -rf "$out"
mkdir -p "$out" "$cache/apt-archives"
workdir="$(mktemp -d /var/tmp/pw-fresh-root.XXXXXX)"

# A minbase root with the mirror's three suites, and no service ever started in it.
make_root_tarball() {
  command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
  local fresh="$workdir/debootstrap"
  if ! debootstrap --variant=minbase "$suite" "$fresh" "$mirror" >"$out/debootstrap.log" 2>&1; then
    tail -n 30 "$out/debootstrap.log"
    return 1
  fi
  cat >"$fresh/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
  printf '#!/bin/sh\nexit 101\n' >"$fresh/usr/sbin/policy-rc.d"
  chmod 755 "$fresh/usr/sbin/policy-rc.d"
  rm -rf "$fresh"/var/cache/apt/archives/*.deb "$fresh"/var/lib/apt/lists/*
  unmount_all "$fresh"
  tar -C "$fresh" --numeric-owner -czf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  rm -rf --one-file-system "$fresh"
}

# A fresh root from the cached tarball, with what a running system mounts.
unpack_root() {
  mkdir "$1"
  tar -C "$1" --numeric-owner -xzf "$tarball"
  cp /etc/resolv.conf "$1/etc/resolv.conf"
  mount -t proc proc "$1/proc"
  mount -t sysfs -o ro sysfs "$1/sys"
  mount --bind /dev "$1/dev"
  mount --bind /dev/pts "$1/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$1/dev/shm"
  # Downloaded packages are kept between runs; apt checks each against the fresh index.
  mount --bind "$cache/apt-archives" "$1/var/cache/apt/archives"
}

# The root, the clone of the committed HEAD, shared/ beside it.
lay_out_root() {
  root="$workdir/root"
  unpack_root "$root"
  mkdir -p "$root/build"
  git clone -q --no-local "$top" "$root/build/repo"
  git -C "$root/build/repo" fetch -q "$top" HEAD
  git -C "$root/build/repo" checkout -q --detach FETCH_HEAD
  echo "commit $(git -C "$root/build/repo" rev-parse --short HEAD)"
  [ -z "$(git status --porcelain --untracked-files=no)" ] || echo "note: uncommitted changes are not in the check"
  if [ -d "$top/../shared" ]; then
    cp -rL "$top/../shared" "$root/build/shared"
  else
    echo "note: no ../shared beside the checkout; the tests that use it skip"
  fi
}

# A command in a root (the build root unless in_root_of names another) as
# root, with a clean environment of its own.
in_root_of() {
  local into="$1"
  shift
  env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive CMAKE_BUILD_PARALLEL_LEVEL="$jobs" \
    chroot "$into" "$@" </dev/null
}
in_root() { in_root_of "$root" "$@"; }

# The README's commands, each in the clone's top folder in the build root.
readme_command() { in_root bash -c "cd /build/repo && $1"; }

# Runs a command in a root on a virtual X server of its own until the main
# window shows (tests/e2e/xsession.py, which the root's Python runs); its
# pictures go to the root's /tmp. Xvfb, xdotool and Python are the check's
# own tools: whoever calls this installs them.
show_window_in() {
  local into="$1" xsession="$2"
  shift 2
  in_root_of "$into" python3 "$xsession" show-window ${PW_FRESH_ROOT_DISPLAY:+--display "$PW_FRESH_ROOT_DISPLAY"} "$@"
}

# scripts/run.sh installs, builds and starts the program; its main window
# must appear and show something.
run_to_window() {
  in_root apt-get update -qq
  in_root apt-get install -y -qq --no-install-recommends xvfb xdotool python3 >/dev/null
  echo "scripts/run.sh's output in $out/run.log"
  # Installing and building come first: allow them most of an hour.
  if ! show_window_in "$root" /build/repo/tests/e2e/xsession.py --timeout 3000 --log /tmp/run.log \
    --screen /tmp/screen.png -- bash -c 'cd /build/repo && exec scripts/run.sh'; then
    cp "$root/tmp/run.log" "$out/run.log"
    tail -n 40 "$out/run.log"
    return 1
  fi
  cp "$root/tmp/run.log" "$out/run.log"
  cp "$root/tmp/screen.png" "$out/screenshot.png"
  echo "the screen with the window: $out/screenshot.png"
}

run_tests() {
  readme_command 'exec scripts/test.sh'
  # The kept packages: only those the mirror still has.
  in_root apt-get autoclean -qq
}

# Installing from the build folder scripts/run.sh left, where the README
# says; the test command's tools then check what it laid out.
install_and_check_layout() {
  readme_command 'cmake --install build --prefix /usr/local' >"$out/install.log" 2>&1 ||
    { tail -n 30 "$out/install.log"; return 1; }
  readme_command 'python3 tests/e2e/installed_layout.py /usr/local'
  echo "installed under /usr/local, as the desktop expects it"
}

# The README's package command in the build root, then the package installed
# with apt-get into a second fresh root that has never built anything.
# There, the desktop's "Open with" (gio launching the installed desktop entry
# with a file) must show the picture in the main window.
install_package_and_open_with() {
  readme_command 'scripts/install-dependencies.sh package && cd build && cpack -G DEB' >"$out/package.log" 2>&1 ||
    { tail -n 30 "$out/package.log"; return 1; }
  local package
  package="$(cd "$root/build/repo/build" && ls picture-workbench_*.deb | head -n 1)"
  echo "package: $package"

  desktop_root="$workdir/desktop"
  unpack_root "$desktop_root"
  cp "$root/build/repo/build/$package" "$desktop_root/tmp/"
  in_root_of "$desktop_root" apt-get update -qq
  in_root_of "$desktop_root" bash -c "cd /tmp && apt-get install -y -qq ./$package" >"$out/package-install.log" 2>&1 ||
    { tail -n 30 "$out/package-install.log"; return 1; }
  # The desktop's own launcher and the check's tools, after the package, so
  # that none of them can stand in for something the package lacks.
  in_root_of "$desktop_root" apt-get install -y -qq --no-install-recommends libglib2.0-bin xvfb xdotool python3 >/dev/null
  cp "$top/tests/e2e/xsession.py" "$desktop_root/tmp/"
  # A magenta picture, written here so that nothing in the root makes it.
  python3 - "$desktop_root/tmp/magenta.png" <<'PNG'
import struct, sys, zlib
width, height = 96, 64
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
rows = b''.join(b'\0' + b'\xff\x00\xff' * width for _ in range(height))
with open(sys.argv[1], 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
PNG
  # gio ends once the program has started; the window must then show the
  # whole picture.
  if ! show_window_in "$desktop_root" /tmp/xsession.py --launcher --timeout 60 --log /tmp/open-with.log \
    --window-picture /tmp/open-with.png --colour ff00ff --at-least $((96 * 64)) \
    -- gio launch /usr/share/applications/picture-workbench.desktop /tmp/magenta.png; then
    cat "$desktop_root/tmp/open-with.log"
    echo "the PNG opened with the installed entry is not shown"
    return 1
  fi
  cp "$desktop_root/tmp/open-with.png" "$out/open-with.png"
  echo "the window after \"Open with\": $out/open-with.png"
}

echo "== fresh root: $suite from $mirror (security: $security), $jobs build jobs"
if [ -f "$tarball" ]; then
  echo "== fresh root: cached root $tarball"
else
  timed "fresh root: debootstrap into $tarball" make_root_tarball
fi
timed "fresh root: unpacking the root and cloning" lay_out_root
timed "fresh root: scripts/run.sh up to its main window" run_to_window
timed "fresh root: scripts/test.sh" run_tests
timed "fresh root: cmake --install build --prefix /usr/local" install_and_check_layout
timed "fresh root: the Debian package installed in a fresh root, and \"Open with\"" install_package_and_open_with
