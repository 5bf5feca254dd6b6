#!/usr/bin/env bash
# Installs, from Debian's packages, what this machine lacks for the groups named:
#   scripts/install-dependencies.sh [run|test|fuzz|bench|package]... [package-name]...
# With no group it installs run, test and fuzz: all that scripts/test.sh and
# .ci/run use. Other arguments are extra package names for optional tools.
set -euo pipefail

# Building the program and running it on a desktop. The PNG, JPEG (both
# of libjpeg-turbo's interfaces), TIFF, WebP, GIF, HEIF and AVIF (libheif),
# JPEG XL, deflate and zlib libraries are the picture codecs the build links;
# Little CMS and Exiv2 handle the colour profiles and camera data a picture
# carries, and xcb reads the screen's colour profile from the X server.
run=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libspng-dev libturbojpeg0-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev libdeflate-dev zlib1g-dev
  libgif-dev libheif-dev libjxl-dev
  liblcms2-dev libexiv2-dev libxcb1-dev
  qt6-image-formats-plugins fonts-dejavu-core
)
# GoogleTest with its mocks (only a recommendation of libgtest-dev, so never
# pulled in by it here), and what the end-to-end test drives the installed
# program with: a virtual X server, xdotool, ImageMagick's pictures, Python,
# and the checkers of what is installed: the desktop entry's validator,
# AppStream's for the metainfo and groff for the manual page; ExifTool, the
# independent writer and reader of EXIF and XMP the tests judge ours by;
# Pillow, the independent writer of the pictures that carry them; and the
# HEIF, AVIF and JPEG XL libraries' own encoders and decoders, which write
# the tests' files and the benchmarks' and read them as the libraries do.
test=(
  libgtest-dev libgmock-dev
  xvfb xauth xdotool imagemagick python3 desktop-file-utils appstream groff-base
  libimage-exiftool-perl python3-pil
  libheif-examples libavif-bin libjxl-tools
)
# clang's libFuzzer and the sanitizers' run-time for it.
fuzz=(clang libclang-rt-14-dev)
# Google Benchmark, OpenCV for the peers, Python for the table, and the
# encoders that write the photograph as HEIC, AVIF and JPEG XL.
bench=(libbenchmark-dev libopencv-dev python3 libheif-examples libavif-bin libjxl-tools)
# Making the Debian package: CPack finds the libraries the program needs
# with dpkg-shlibdeps, and tells executables apart with file.
packaging=(dpkg-dev file)

packages=()
groups=0
for argument in "$@"; do
  case "$argument" in
    run) packages+=("${run[@]}"); groups=1 ;;
    test) packages+=("${run[@]}" "${test[@]}"); groups=1 ;;
    fuzz) packages+=("${run[@]}" "${fuzz[@]}"); groups=1 ;;
    bench) packages+=("${run[@]}" "${bench[@]}"); groups=1 ;;
    package) packages+=("${run[@]}" "${packaging[@]}"); groups=1 ;;
    *) packages+=("$argument") ;;
  esac
done
[ "$groups" -eq 1 ] || packages+=("${run[@]}" "${test[@]}" "${fuzz[@]}")

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
