#!/usr/bin/env bash
# Builds the Debian package from the built tree and checks what it holds and what it depends on.
set -euo pipefail

build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(find "$work" -maxdepth 1 -name 'clipferry_*.deb' -print -quit)
[ -n "$deb" ] || { cat "$work/cpack.log"; fail "no package was made"; }
dpkg-deb -c "$deb" >"$work/contents"
cat "$work/contents"

# The launchers, the menu entry, the icon and the whole program folder, below /usr.
for path in ./usr/share/applications/clipferry.desktop \
  ./usr/share/icons/hicolor/scalable/apps/clipferry.svg; do
  grep -q " $path\$" "$work/contents" || fail "the package lacks $path"
done
grep -q ' ./usr/bin/clipferry -> ../lib/clipferry/clipFerry$' "$work/contents" || fail "no bin/clipferry launcher"
grep -q ' ./usr/bin/clipferry-cli -> ../lib/clipferry/clipferry-cli$' "$work/contents" || fail "no bin/clipferry-cli launcher"
for name in $(cd "$build_dir/program" && find . -type f \
  ! -name project.xml ! -name getfolder.xml ! -name log.txt ! -name tmpTest.bmp | sed 's|^\./||'); do
  grep -q " ./usr/lib/clipferry/$name\$" "$work/contents" || fail "the package lacks lib/clipferry/$name"
done
# Nothing a run of the program writes is shipped.
grep -Eq '/(project\.xml|getfolder\.xml|log\.txt)$' "$work/contents" && fail "the package ships a file the program writes"

# Its dependencies are Debian packages that exist, and they cover every library the programs link.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in ffmpeg zip unzip yamdi; do
  [[ ", $depends," == *", $package,"* ]] || fail "Depends lacks $package"
done
names=$(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/ //g')
for package in $names; do
  apt-cache show "$package" >/dev/null 2>&1 || fail "no Debian package named $package"
done
dpkg-deb -x "$deb" "$work/root"
checked=0
for file in $(find "$work/root/usr/lib/clipferry" -type f); do
  objdump -p "$file" >/dev/null 2>&1 || continue  # not a program or module
  checked=$((checked + 1))
  for lib in $(objdump -p "$file" | awk '/NEEDED/ {print $2}'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l && /x86-64/ && !found {print $NF; found = 1}')
    [ -n "$path" ] || fail "$file needs $lib, which is not installed here"
    # With merged /usr a library is recorded under one of its two paths.
    owner=$( (dpkg -S "$(readlink -f "$path")" || dpkg -S "$path") 2>/dev/null | sed -n '1s/:.*//p') || true
    [ -n "$owner" ] || fail "no Debian package holds $path"
    grep -qx "$owner" <<<"$names" || fail "$(basename "$file") needs $lib from $owner, which Depends lacks"
  done
done
[ "$checked" -ge 10 ] || fail "only $checked programs and modules were checked"
echo "package: $(basename "$deb") ($checked programs and modules checked)"
