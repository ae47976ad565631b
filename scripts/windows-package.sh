#!/usr/bin/env bash
# Makes the zip of the Windows programs for a product team: MorvexUpdate.exe,
# its window module MorvexUpdateUi.dll, Haltwick.exe and a README, from the
# "windows" build (scripts/windows-test.sh, or `cmake --preset windows` and a
# build). Usage: scripts/windows-package.sh [build folder] [output folder]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build-windows}" && pwd)
OUT=${2:-$BUILD/packages}
STRIP=x86_64-w64-mingw32-strip

version=$(sed -n 's/^project(Morvex .*VERSION \([0-9.]*\)).*/\1/p' "$ROOT/CMakeLists.txt")
[ -n "$version" ] || { echo "windows-package: no project version in CMakeLists.txt" >&2; exit 1; }
name=morvex-update-$version-windows-x64

files=(MorvexUpdate.exe MorvexUpdateUi.dll)
for f in "${files[@]}"; do
  if [ ! -f "$BUILD/bin/$f" ]; then
    echo "windows-package: $BUILD/bin/$f is missing; build the windows preset first" >&2
    exit 1
  fi
done
# Haltwick.exe is built where the tree has its Windows source.
if [ -f "$BUILD/bin/Haltwick.exe" ]; then
  files+=(Haltwick.exe)
else
  echo "windows-package: no Haltwick.exe in this build; the zip goes without it" >&2
fi

# A product team copies these files and nothing else: every DLL they import
# must be Windows' own or one of them. (A compiler runtime or zlib DLL slipping
# in through a link flag would only show on a machine without it.)
for f in "${files[@]}"; do
  while read -r dll; do
    lower=${dll,,}
    case "$lower" in
      morvexupdate.exe|morvexupdateui.dll) ;;
      kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|\
      comctl32.dll|comdlg32.dll|winspool.drv|shlwapi.dll|uuid.dll|uxtheme.dll|version.dll|\
      oleacc.dll|ws2_32.dll|crypt32.dll|bcrypt.dll|secur32.dll|wldap32.dll|iphlpapi.dll|\
      msvcrt.dll|rpcrt4.dll|winmm.dll|imm32.dll|msimg32.dll|dwmapi.dll|normaliz.dll|winhttp.dll|\
      usp10.dll|mpr.dll|netapi32.dll|userenv.dll|psapi.dll|ntdll.dll|\
      api-ms-win-*) ;;
      *) echo "windows-package: $f imports $dll, which Windows does not bring" >&2; exit 1 ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -p "$BUILD/bin/$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name" "$OUT"
for f in "${files[@]}"; do
  # Shipped without the debug information the test build carries.
  $STRIP --strip-debug -o "$stage/$name/$f" "$BUILD/bin/$f"
done
sed "s/@MORVEX_VERSION@/$version/g" "$ROOT/cmake/package/windows-readme.txt.in" \
  | sed 's/$/\r/' >"$stage/$name/README.txt"

rm -f "$OUT/$name.zip"
# Fixed times and order, so that the same build gives the same zip.
find "$stage/$name" -exec touch -d "2020-01-01 00:00:00 UTC" {} +
(cd "$stage" && TZ=UTC find "$name" -print | LC_ALL=C sort | zip -q -X -@ "$OUT/$name.zip")
echo "$OUT/$name.zip"
