#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Only missing packages are installed; apt-get update runs at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  # A private session bus for the test of the list's notification.
  dbus-daemon
  # The main window reads the window manager's close requests on X11.
  libxcb1-dev
  libsqlite3-dev sqlite3
  libcurl4-openssl-dev
  libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth
  # The window tests under a real window manager, and the tools they use to
  # act as one and read the windows' properties.
  openbox wmctrl xdotool x11-utils
  # Faces for the names the windows ask for (see app/FontSubstitutions.cpp):
  # Song-style serif, a brush face, narrow and plain sans, CJK fallbacks.
  fonts-noto-cjk fonts-arphic-ukai fonts-kaushanscript fonts-dejavu-core fonts-dejavu-extra fonts-wqy-zenhei
  # Qt's own dialog texts in Chinese.
  qt6-translations-l10n
  curl ca-certificates
  desktop-file-utils appstream librsvg2-bin
  # The Debian package: its build (dpkg-shlibdeps, the hardening flags, the
  # description read from the AppStream file) and its check.
  dpkg-dev libxml2-utils lintian
  openssl
  # CPU hogs, to check that the tests pass on a busy machine.
  stress-ng
  # Peak memory of a tool started by a benchmark that holds much memory itself
  # (a forked child would count the benchmark's pages too).
  time
  # Real encoder output for the probe's tests: sox makes the sound, lame encodes it.
  lame sox
  # The documentation's link check (scripts/check-links.py).
  python3
  # The benchmarks' web server (sendfile, a rate per connection) and the
  # other downloader netget and dlget are measured against.
  nginx-light aria2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
