#!/usr/bin/env bash
# Builds the Debian package brelvomp3_VERSION_ARCH.deb from a clean Release
# build in build-deb/, and puts it into OUTPUT_DIR (default: the checkout's
# top folder), so that `apt install ./brelvomp3_*.deb` installs it there.
#   package-deb.sh [OUTPUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(realpath "${1:-$root}")
"$root/scripts/install-deps.sh"

build="$root/build-deb"
# dpkg-shlibdeps expects a package's files in debian/PACKAGE of a source tree.
tree="$build/package"
stage="$tree/debian/brelvomp3"
debian="$root/packaging/debian"
metainfo="$root/packaging/org.example.brelvomp3.metainfo.xml"

# Debian's flags: -O2, fortified functions, strong stack protector, full
# RELRO and immediate binding; -g is left out, as the programs are stripped.
# They replace the Release type's -O3, at which GCC 12 warns falsely about
# inlined string code. Only this build gets them; the everyday build stays as
# it is.
buildflag() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g \
    dpkg-buildflags --get "$1"
}

echo "== package build (Release, $build)"
rm -rf "$build"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DBRELVO_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_C_FLAGS="$(buildflag CPPFLAGS) $(buildflag CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(buildflag CPPFLAGS) $(buildflag CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(buildflag LDFLAGS)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package-deb: no project version in $build/CMakeCache.txt" >&2; exit 1; }
logged=$(dpkg-parsechangelog -l "$debian/changelog" -S Version)
[ "$logged" = "$version" ] || {
  echo "package-deb: the project is version $version, packaging/debian/changelog ends at $logged" >&2; exit 1; }
arch=$(dpkg --print-architecture)

echo "== staging the files"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
doc="$stage/usr/share/doc/brelvomp3"
install -d "$doc"
install -m 0644 "$debian/copyright" "$doc/copyright"
gzip -9n <"$debian/changelog" >"$doc/changelog.gz"
gzip -9n "$stage"/usr/share/man/man1/*.1
for f in "$stage"/usr/bin/*; do
  if readelf -h "$f" >/dev/null 2>&1; then
    strip --remove-section=.comment --remove-section=.note "$f"
  fi
done
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage"/usr/bin/*

# The libraries the programs link against, as dpkg-shlibdeps finds them. Of
# the source tree it wants, a bare control file is enough.
# dpkg-shlibdeps knows the package's root by its DEBIAN folder.
printf 'Source: brelvomp3\n\nPackage: brelvomp3\nArchitecture: any\n' >"$tree/debian/control"
mkdir -p "$stage/DEBIAN"
elves=()
for f in "$stage"/usr/bin/*; do
  readelf -h "$f" >/dev/null 2>&1 && elves+=("debian/brelvomp3/usr/bin/$(basename "$f")")
done
shlibs=$(cd "$tree" && dpkg-shlibdeps -O "${elves[@]}" | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package-deb: dpkg-shlibdeps found no libraries" >&2; exit 1; }

# The description in the AppStream file's words: its summary, then each
# paragraph, wrapped for the control file.
xpath() { xmllint --xpath "$1" "$metainfo"; }
description=$(xpath 'normalize-space(/component/summary[not(@xml:lang)])')
paragraphs=$(xpath 'count(/component/description/p[not(@xml:lang)])')
for i in $(seq 1 "$paragraphs"); do
  [ "$i" -gt 1 ] && description+=$'\n .'
  text=$(xpath "normalize-space(/component/description/p[not(@xml:lang)][$i])")
  description+=$'\n'$(fold -s -w 72 <<<"$text" | sed 's/ *$//; s/^/ /')
done

# Every file's time is the last changelog entry's, not the build's.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$debian/changelog" -S Timestamp)
export SOURCE_DATE_EPOCH
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
control=$(<"$debian/control.in")
control=${control//@VERSION@/$version}
control=${control//@ARCH@/$arch}
control=${control//@INSTALLED_SIZE@/$(du -sk --exclude=DEBIAN "$stage" | cut -f1)}
control=${control//@SHLIBS_DEPENDS@/$shlibs}
control=${control//@DESCRIPTION@/$description}
printf '%s\n' "$control" >"$stage/DEBIAN/control"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +

# An older package left beside it would make ./brelvomp3_*.deb name two.
for old in "$out"/brelvomp3_*.deb; do
  [ -e "$old" ] && { echo "removing the older $old"; rm -f "$old"; }
done
deb="$out/brelvomp3_${version}_${arch}.deb"
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "package: $deb"
