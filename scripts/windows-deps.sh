#!/usr/bin/env bash
# Builds the libraries the Windows updater links with, as static mingw-w64
# libraries, from Debian's own source packages, into one prefix:
#   sqlite3 (amalgamation), libsodium, libcurl (schannel), minizip, libpng,
#   wxWidgets (msw, static), GoogleTest.
# Only zlib comes ready-made (libz-mingw-w64-dev). Nothing is fetched but Debian
# packages: the sources come through `apt-get source` at pinned versions, so a
# rebuild gives the same libraries.
#
# The prefix is $MORVEX_WINDEPS (default: build-windeps/ in the repository, which
# git ignores). Each library leaves a stamp there; a second run only checks.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINDEPS=${MORVEX_WINDEPS:-$ROOT/build-windeps}
mkdir -p "$WINDEPS"
WINDEPS=$(cd "$WINDEPS" && pwd)
SRC=$WINDEPS/src
STAMPS=$WINDEPS/stamps
JOBS=${WINDEPS_JOBS:-2}
HOST=x86_64-w64-mingw32

# Pinned source versions: the ones in the release suites, since not every
# version of the security suite is served as source.
SQLITE_VERSION=3.40.1-2+deb12u2
SODIUM_VERSION=1.0.18-1+deb12u1
CURL_VERSION=7.88.1-10+deb12u15
MINIZIP_VERSION=1.1-8+deb12u1
PNG_VERSION=1.6.39-2+deb12u5
WX_VERSION=3.2.2+dfsg-2

PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
          dpkg-dev autoconf automake libtool make tcl cmake ninja-build pkg-config
          googletest)

log() { echo "windows-deps: $*"; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

source "$(dirname "$0")/apt-missing.sh"
install_packages() { install_missing "${PACKAGES[@]}"; }

# `apt-get source` needs the source indexes: add them beside the binary ones,
# same mirrors and suites, once.
SOURCES_LIST=/etc/apt/sources.list.d/morvex-deb-src.sources
enable_deb_src() {
  if [ -f "$SOURCES_LIST" ] && apt-cache showsrc sqlite3 2>/dev/null | grep -q "^Version: $SQLITE_VERSION"; then
    return
  fi
  log "enabling Debian source indexes"
  local tmp
  tmp=$(mktemp)
  # Each binary stanza of the existing sources, as a deb-src stanza.
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$SOURCES_LIST" ] && continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /Types:[^\n]*deb/ && /debian/ {sub(/Types:[^\n]*/, "Types: deb-src"); print}' "$f" >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$tmp.list" || true
  fi
  if [ ! -s "$tmp" ] && [ ! -s "$tmp.list" ]; then
    cat >"$tmp" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  [ -s "$tmp" ] && $SUDO install -m 644 "$tmp" "$SOURCES_LIST"
  [ -s "$tmp.list" ] && $SUDO install -m 644 "$tmp.list" "${SOURCES_LIST%.sources}.list"
  rm -f "$tmp" "$tmp.list"
  $SUDO apt-get update -q
}

# fetch <source package> <version> <directory it unpacks to>
DEB_SRC_READY=""
fetch() {
  local pkg=$1 ver=$2 dir=$3
  if [ ! -d "$SRC/$dir" ]; then
    [ -n "$DEB_SRC_READY" ] || { enable_deb_src; DEB_SRC_READY=1; }
    log "fetching $pkg $ver"
    mkdir -p "$SRC/dl-$pkg"
    (cd "$SRC/dl-$pkg" && apt-get source -q --only-source "$pkg=$ver" >/dev/null)
    mv "$SRC/dl-$pkg/$dir" "$SRC/$dir"
    rm -rf "$SRC/dl-$pkg"
  fi
}

# Runs one library's build once; the stamp records the version it was built at.
step() {
  local name=$1 version=$2; shift 2
  if [ "$(cat "$STAMPS/$name" 2>/dev/null)" = "$version" ]; then
    return
  fi
  log "building $name $version"
  local start=$SECONDS
  "$@"
  mkdir -p "$STAMPS"
  echo "$version" >"$STAMPS/$name"
  log "$name built in $((SECONDS - start)) s"
}

export CC=$HOST-gcc-posix CXX=$HOST-g++-posix AR=$HOST-ar RANLIB=$HOST-ranlib
export WINDRES=$HOST-windres RC=$HOST-windres STRIP=$HOST-strip
# Configure scripts find the prefix's libraries and nothing of the build machine.
export PKG_CONFIG_LIBDIR=$WINDEPS/lib/pkgconfig:/usr/$HOST/lib/pkgconfig
export PKG_CONFIG_PATH=
export CPPFLAGS="-I$WINDEPS/include"
export LDFLAGS="-L$WINDEPS/lib"
CONFIGURE=(--host=$HOST --prefix="$WINDEPS" --disable-shared --enable-static)

build_sqlite() {
  fetch sqlite3 "$SQLITE_VERSION" sqlite3-3.40.1
  local d=$SRC/sqlite3-3.40.1
  # Its configure cannot cross-compile: make the amalgamation with the native
  # tools, then compile that one file with the cross compiler.
  if [ ! -f "$d/native/sqlite3.c" ]; then
    mkdir -p "$d/native"
    (cd "$d/native" && env -u CC -u CXX -u AR -u RANLIB -u CPPFLAGS -u LDFLAGS \
       -u PKG_CONFIG_LIBDIR ../configure --disable-tcl --disable-readline --disable-editline >/dev/null \
       && make sqlite3.c >/dev/null)
  fi
  mkdir -p "$WINDEPS/lib/pkgconfig" "$WINDEPS/include"
  (cd "$d/native" && $CC -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c -o sqlite3-win.o \
     && rm -f libsqlite3.a && $AR rcs libsqlite3.a sqlite3-win.o)
  install -m 644 "$d/native/libsqlite3.a" "$WINDEPS/lib/"
  install -m 644 "$d/native/sqlite3.h" "$d/native/sqlite3ext.h" "$WINDEPS/include/"
  cat >"$WINDEPS/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$WINDEPS
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine
Version: 3.40.1
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
}

build_sodium() {
  fetch libsodium "$SODIUM_VERSION" libsodium-1.0.18
  local d=$SRC/libsodium-1.0.18
  # Without the variable autogen.sh downloads fresh config.guess/config.sub.
  (cd "$d" && DO_NOT_UPDATE_CONFIG_SCRIPTS=1 ./autogen.sh -s >/dev/null 2>&1)
  rm -rf "$d/build-win" && mkdir -p "$d/build-win"
  (cd "$d/build-win" && ../configure "${CONFIGURE[@]}" --disable-pie >/dev/null \
     && nice -n 10 make -j"$JOBS" >/dev/null && make install >/dev/null)
}

build_curl() {
  fetch curl "$CURL_VERSION" curl-7.88.1
  local d=$SRC/curl-7.88.1
  # The last patches of Debian's series rename the library for its GnuTLS and
  # NSS flavours; the plain library is built without them.
  if [ ! -f "$d/.flavour-patches-reverted" ]; then
    (cd "$d" && for p in 99_nss.patch 90_gnutls.patch; do
       patch -R -p1 -s <"debian/patches/$p"; done)
    touch "$d/.flavour-patches-reverted"
  fi
  (cd "$d" && autoreconf -fi >/dev/null 2>&1)
  rm -rf "$d/build-win" && mkdir -p "$d/build-win"
  # FTP over the system's TLS; everything else the updater does not use is off.
  # HTTP stays on: a Debian patch refers to its code.
  (cd "$d/build-win" && ../configure "${CONFIGURE[@]}" --with-schannel --without-zlib \
       --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet \
       --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp \
       --disable-gopher --disable-mqtt --disable-manual --disable-docs \
       --without-libpsl --without-brotli --without-zstd --without-libidn2 \
       --without-nghttp2 --without-librtmp --without-libssh2 --without-libssh \
       --without-libgsasl >/dev/null \
     && nice -n 10 make -C lib -j"$JOBS" >/dev/null \
     && make -C lib install >/dev/null && make -C include install >/dev/null \
     && install -D -m 644 libcurl.pc "$WINDEPS/lib/pkgconfig/libcurl.pc")
}

build_minizip() {
  fetch minizip "$MINIZIP_VERSION" minizip-1.1
  local d=$SRC/minizip-1.1
  (cd "$d" && autoreconf -fi >/dev/null 2>&1)
  rm -rf "$d/build-win" && mkdir -p "$d/build-win"
  (cd "$d/build-win" && ../configure "${CONFIGURE[@]}" >/dev/null \
     && nice -n 10 make -j"$JOBS" >/dev/null && make install >/dev/null)
}

build_png() {
  fetch libpng1.6 "$PNG_VERSION" libpng1.6-1.6.39
  local d=$SRC/libpng1.6-1.6.39
  rm -rf "$d/build-win" && mkdir -p "$d/build-win"
  (cd "$d/build-win" && ../configure "${CONFIGURE[@]}" --disable-tools >/dev/null \
     && nice -n 10 make -j"$JOBS" libpng16.la >/dev/null \
     && make install-libLTLIBRARIES install-pkgincludeHEADERS install-nodist_pkgincludeHEADERS \
          install-pkgconfigDATA >/dev/null \
     && make install-header-links install-library-links install-libpng-pc >/dev/null)
}

build_wx() {
  fetch wxwidgets3.2 "$WX_VERSION" wxwidgets3.2-3.2.2+dfsg
  local d=$SRC/wxwidgets3.2-3.2.2+dfsg
  # The msw port with the prefix's png and the toolchain's zlib; the parts the
  # updater's window does not use are off, which halves the build.
  # (Its configure refuses options it does not know, such as --enable-static.)
  local options=(--host=$HOST --prefix="$WINDEPS" --disable-shared --with-msw
       --with-libpng=sys --with-zlib=sys --without-libjpeg --without-libtiff
       --without-liblzma --without-opengl --with-expat=no
       --disable-webview --disable-mediactrl --disable-stc --disable-richtext
       --disable-aui --disable-ribbon --disable-propgrid --disable-xrc --disable-html
       --disable-svg --with-regex=no --disable-debug_info
       --disable-sockets --disable-webrequest --disable-debugreport --disable-fswatcher
       --disable-grid --disable-dataviewctrl --disable-treelist --disable-docview --disable-mdi
       --disable-printarch --disable-calendar --disable-datepick --disable-timepick
       --disable-wizarddlg --disable-animatectrl --disable-notifmsg --disable-taskbaricon
       --disable-taskbarbutton --disable-joystick --disable-sound --disable-uiactionsim)
  # The longest build here: an interrupted one with the same options goes on
  # where it stopped instead of starting again.
  if [ "$(cat "$d/build-win/.configured" 2>/dev/null)" != "${options[*]}" ]; then
    rm -rf "$d/build-win" && mkdir -p "$d/build-win"
    (cd "$d/build-win" && ../configure "${options[@]}" >/dev/null)
    echo "${options[*]}" >"$d/build-win/.configured"
  fi
  (cd "$d/build-win" && nice -n 10 make -j"$JOBS" >/dev/null && make install >/dev/null)
}

build_gtest() {
  rm -rf "$SRC/googletest-build"
  cmake -S /usr/src/googletest -B "$SRC/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" \
    -DMORVEX_WINDEPS="$WINDEPS" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$WINDEPS" -DBUILD_SHARED_LIBS=OFF -DINSTALL_GTEST=ON -DBUILD_GMOCK=OFF >/dev/null
  nice -n 10 cmake --build "$SRC/googletest-build" -j"$JOBS" >/dev/null
  cmake --install "$SRC/googletest-build" >/dev/null
}

start=$SECONDS
install_packages
mkdir -p "$SRC" "$STAMPS"
step sqlite "$SQLITE_VERSION" build_sqlite
step sodium "$SODIUM_VERSION" build_sodium
step curl "$CURL_VERSION" build_curl
step minizip "$MINIZIP_VERSION" build_minizip
step png "$PNG_VERSION" build_png
step gtest "$(dpkg-query -W -f='${Version}' googletest)" build_gtest
step wx "$WX_VERSION" build_wx
log "prefix $WINDEPS ready ($((SECONDS - start)) s)"
