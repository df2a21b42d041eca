#!/usr/bin/env bash
# Checks a built Debian package: it holds every file an installation has,
# with the fields and dependencies it needs; lintian finds nothing wrong with
# it; and it installs, starts and goes away again. As root (CI) it installs
# into this machine with apt-get and removes itself at the end, also when a
# step fails; otherwise it unpacks into a temporary folder.
#   check-deb.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/installed-checks.sh"
tmp=$(mktemp -d)
installed=""
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -q "$@" >>"$tmp/apt.log" 2>&1 || {
    cat "$tmp/apt.log" >&2; fail "apt-get $* failed"; }
}
cleanup() {
  [ -n "$launched_pid" ] && kill "$launched_pid" 2>/dev/null || true
  if [ -n "$installed" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -q remove brelvomp3 >/dev/null 2>&1 ||
      echo "package check: could not remove the package brelvomp3 again" >&2
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { echo "package check: $*" >&2; exit 1; }
field() { dpkg-deb --field "$deb" "$1"; }

# The file's name, and the fields a user and apt see.
version=$(field Version)
arch=$(field Architecture)
[ "$(basename "$deb")" = "brelvomp3_${version}_${arch}.deb" ] || fail "$(basename "$deb") is not named for version $version, $arch"
[ "$(field Package)" = brelvomp3 ] || fail "the package is called $(field Package)"
[ "$(field Section)" = sound ] || fail "the section is $(field Section), not sound"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
depends=$(field Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//')
# Found by dpkg-shlibdeps, and the faces and Qt texts the program asks for by name.
for p in libc6 libqt6widgets6 libqt6gui6 libcurl4 libsqlite3-0 \
         fonts-noto-cjk fonts-arphic-ukai fonts-kaushanscript fonts-dejavu-core fonts-dejavu-extra fonts-wqy-zenhei \
         qt6-translations-l10n; do
  grep -qx "$p" <<<"$depends" || fail "Depends lacks $p"
done

# Every file an installation holds, each program with its manual page, and
# the copyright file and changelog Debian asks for.
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./||; /\/$/d; /^$/d' >"$tmp/contents"
has() { grep -qxF "$1" "$tmp/contents" || fail "the package lacks $1"; }
while read -r f; do has "usr/$f"; done < <(installed_files)
while read -r program; do
  has "usr/share/man/man1/$(basename "$program").1.gz"
done < <(grep '^usr/bin/' "$tmp/contents")
has usr/share/doc/brelvomp3/copyright
has usr/share/doc/brelvomp3/changelog.gz

# No error and no warning. A tag kept on purpose goes into --suppress-tags
# here and into the list in docs/install.md.
lintian --fail-on error,warning "$deb" >"$tmp/lintian.log" 2>&1 || {
  cat "$tmp/lintian.log" >&2; fail "lintian finds fault with the package"; }

if [ "$(id -u)" -eq 0 ]; then
  # One package check at a time on this machine: two would remove each
  # other's installation.
  lockdir=/run/lock; [ -d "$lockdir" ] || lockdir=/tmp
  exec 9>"$lockdir/brelvomp3-package-check.lock"
  flock -w 1800 9 || fail "another package check held the lock for 30 minutes"
  # An installation left by an earlier run would be taken for this package.
  if dpkg-query -W -f='${db:Status-Status}' brelvomp3 2>/dev/null | grep -qv '^not-installed$'; then
    echo "package check: removing the brelvomp3 package already installed"
    apt_get purge brelvomp3
  fi
  installed=yes
  apt_get install "$deb"
  [ "$(dpkg-query -W -f='${Version}' brelvomp3)" = "$version" ] || fail "apt-get did not install version $version"
  system=""
else
  dpkg-deb --extract "$deb" "$tmp/root"
  system="$tmp/root"
fi
bindir="$system/usr/bin"

answer=$("$bindir/brelvomp3" --version) || fail "brelvomp3 --version failed"
[ "$answer" = "BrelvoMP3 $version" ] || fail "brelvomp3 --version answers '$answer'"
# The package's own programs only: as root, bindir is the system's.
mapfile -t programs < <(sed -n "s|^usr/bin/|$bindir/|p" "$tmp/contents")
check_programs_answer "${programs[@]}"
check_desktop_command_starts "$system/usr/share/applications/org.example.brelvomp3.desktop" "$bindir" "$tmp"

how=unpacked
if [ -n "$installed" ]; then
  apt_get remove brelvomp3
  installed=""
  status=$(dpkg-query -W -f='${db:Status-Status}' brelvomp3 2>/dev/null || echo not-installed)
  [ "$status" = not-installed ] || fail "after apt-get remove the package is $status"
  while read -r f; do
    [ ! -e "/$f" ] || fail "/$f is still there after apt-get remove"
  done <"$tmp/contents"
  how="installed with apt-get, removed again"
fi
echo "package check: passed ($(basename "$deb"): $(wc -l <"$tmp/contents") files, lintian clean, $how)"
