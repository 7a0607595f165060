#!/usr/bin/env bash
# Builds the libraries that the Windows build links and Debian ships only for
# Linux: freeglut, from Debian's own source package of the version installed
# here, cross-compiled with MinGW-w64 as a static library. The result is kept
# in ~/.cache/tavimor/mingw64 (the Windows preset looks there); a second run
# finds it and does nothing.
#
# The source comes through apt with a private configuration: source entries
# for the Debian archives this machine already uses, and package lists of its
# own under the cache. The system's apt configuration is left as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=$HOME/.cache/tavimor
prefix=$cache/mingw64

version=$(dpkg-query -W -f='${source:Version}' freeglut3-dev)
stamp=$prefix/freeglut-$version.stamp
[[ -f $stamp ]] && exit 0

apt_dir=$cache/apt
work=$cache/freeglut-build
rm -rf "$work"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/parts" "$work"

# deb-src entries for every Debian archive in the system's sources, in both
# of apt's formats.
sources=$apt_dir/sources.list
: >"$sources"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [[ -f $f ]] && sed -n 's/^[[:space:]]*deb[[:space:]]\+\(.*debian.*\)$/deb-src \1/p' "$f" >>"$sources"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [[ -f $f ]] || continue
  # One stanza at a time: its URIs, suites, components and key.
  awk 'function flush() {
         if (types ~ /(^|[ \t])deb([ \t]|$)/ && uris ~ /debian/) {
           n = split(uris, u, /[ \t]+/); m = split(suites, s, /[ \t]+/)
           for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
             if (u[i] != "" && s[j] != "")
               printf "deb-src%s %s %s %s\n", (key != "" ? " [signed-by=" key "]" : ""), u[i], s[j], comps
         }
         types = uris = suites = comps = key = ""
       }
       /^[ \t]*$/ { flush(); next }
       /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
       /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
       /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
       /^Components:/ { sub(/^Components:[ \t]*/, ""); comps = $0 }
       /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); key = $0 }
       END { flush() }' "$f" >>"$sources"
done
if [[ ! -s $sources ]]; then
  echo "windows_deps: no Debian archive in the apt sources to take freeglut's source from" >&2
  exit 1
fi

apt_private=(-o "Dir::Etc::SourceList=$sources" -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
echo "windows_deps: freeglut $version from Debian's source package"
apt-get "${apt_private[@]}" -qq update
(cd "$work" && apt-get "${apt_private[@]}" -qq source "freeglut=$version" >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'freeglut-*' | head -n 1)

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DFREEGLUT_BUILD_SHARED_LIBS=OFF -DFREEGLUT_BUILD_STATIC_LIBS=ON -DFREEGLUT_BUILD_DEMOS=OFF \
  -DFREEGLUT_REPLACE_GLUT=OFF >/dev/null
cmake --build "$work/build" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
cmake --install "$work/build" >/dev/null
rm -rf "$work"
touch "$stamp"
echo "windows_deps: freeglut installed in $prefix"
