#!/usr/bin/env bash
# Proves the set-up commands on a fresh Debian 12: in a minimal bookworm root
# (debootstrap minbase, cached as a tarball), a clone of the committed HEAD
# with ../shared beside it runs scripts/run.sh up to its main window on a
# virtual X server, then scripts/test.sh; both as root, in chroot, installing
# what they need with the root's own apt. Needs root and debootstrap.
#   PW_FRESH_ROOT_DISPLAY=N  X display for the window check (default: a free one)
#   PW_FRESH_ROOT_KEEP=1     leave the root in place afterwards
# The screenshot and logs go to build-fresh-root/.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
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

stage() {
  local start=$SECONDS
  echo "== fresh root: $1"
  "${@:2}"
  echo "== fresh root: $1 took $((SECONDS - start)) s"
}

# Everything under a folder of ours that is mounted, innermost first.
mounts_under() {
  findmnt -rn -o TARGET | awk -v top="$1" 'index($0, top "/") == 1 || $0 == top' | sort -r
}

# Processes of ours that still run inside the root (the program, Xvfb).
stop_root_processes() {
  local signal process
  for signal in TERM KILL; do
    for process in /proc/[0-9]*; do
      # One may end between the look and the signal.
      if [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ]; then
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
cleanup() {
  local status=$?
  set +e
  trap - ERR
  if [ -n "$root" ]; then
    stop_root_processes
    cp "$root/build/repo/build/Testing/Temporary/LastTest.log" "$out/" 2>/dev/null
  fi
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

# The root, the clone of the committed HEAD, shared/ beside it, the mounts.
lay_out_root() {
  root="$workdir/root"
  mkdir "$root"
  tar -C "$root" --numeric-owner -xzf "$tarball"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
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
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  # Downloaded packages are kept between runs; apt checks each against the fresh index.
  mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
}

# A command in the root as root, with a clean environment of its own.
in_root() {
  env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive CMAKE_BUILD_PARALLEL_LEVEL="$jobs" \
    ${display_name:+DISPLAY=$display_name} chroot "$root" "$@" </dev/null
}

display_name=
# scripts/run.sh builds and starts the program; its main window must appear
# and show something. Xvfb and xdotool are the check's own tools, installed
# before; ImageMagick only once the window is up, so it cannot stand in for
# something the program lacks.
run_to_window() {
  in_root apt-get update -qq
  in_root apt-get install -y -qq --no-install-recommends xvfb xdotool >/dev/null
  # Both are stopped by stop_root_processes: their end is no failure of the check.
  (trap - ERR; in_root Xvfb ${PW_FRESH_ROOT_DISPLAY:+":$PW_FRESH_ROOT_DISPLAY"} -displayfd 3 \
    -screen 0 1280x1024x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log") &
  for _ in $(seq 100); do
    grep -q '^[0-9]' "$out/display" 2>/dev/null && break
    sleep 0.2
  done
  display_name=":$(tr -dc 0-9 <"$out/display")"
  [ "$display_name" != ":" ] || { echo "Xvfb did not start:"; cat "$out/xvfb.log"; return 1; }
  echo "Xvfb on $display_name; scripts/run.sh's output in $out/run.log"

  mkdir -m 700 "$root/tmp/runtime"
  (trap - ERR; in_root env XDG_RUNTIME_DIR=/tmp/runtime NO_AT_BRIDGE=1 bash -c 'cd /build/repo && exec scripts/run.sh' \
    >"$out/run.log" 2>&1) &
  local program=$! window=
  # Installing and building come first: allow them most of an hour.
  for _ in $(seq 720); do
    window="$(in_root xdotool search --onlyvisible --name '^Form1$' 2>/dev/null | head -n 1)" && [ -n "$window" ] && break
    if ! kill -0 "$program" 2>/dev/null; then
      tail -n 40 "$out/run.log"
      echo "scripts/run.sh ended before its main window appeared"
      return 1
    fi
    sleep 5
  done
  [ -n "$window" ] || { tail -n 40 "$out/run.log"; echo "no main window after an hour"; return 1; }
  eval "$(in_root xdotool getwindowgeometry --shell "$window")"
  echo "main window $window: ${WIDTH} x ${HEIGHT}"

  in_root apt-get install -y -qq --no-install-recommends imagemagick >/dev/null
  sleep 2
  in_root import -window root /tmp/screen.png
  in_root import -window "$window" /tmp/window.png
  cp "$root/tmp/screen.png" "$out/screenshot.png"
  local shot
  shot="$(in_root identify -format '%w %h %k' /tmp/window.png)"
  echo "window grab: $shot (width, height, colours); the whole screen is in $out/screenshot.png"
  read -r shot_width shot_height shot_colours <<<"$shot"
  if [ "$shot_width" != "$WIDTH" ] || [ "$shot_height" != "$HEIGHT" ] || [ "$shot_colours" -lt 8 ]; then
    echo "the main window's grab is not the window's size or is nearly blank"
    return 1
  fi
  stop_root_processes
  wait "$program" 2>/dev/null || true
  display_name=
}

run_tests() {
  in_root bash -c 'cd /build/repo && exec scripts/test.sh'
  # The kept packages: only those the mirror still has.
  in_root apt-get autoclean -qq
}

echo "== fresh root: $suite from $mirror (security: $security), $jobs build jobs"
if [ -f "$tarball" ]; then
  echo "== fresh root: cached root $tarball"
else
  stage "debootstrap into $tarball" make_root_tarball
fi
stage "unpacking the root and cloning" lay_out_root
stage "scripts/run.sh up to its main window" run_to_window
stage "scripts/test.sh" run_tests
