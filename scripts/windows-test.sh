#!/usr/bin/env bash
# The Windows stage: builds the dependency prefix (scripts/windows-deps.sh),
# cross-builds the updater side with the "windows" preset and runs its test
# suites under Wine, with a private Wine prefix, code page 936 and a private X
# server for the window tests. Wine starts once and is stopped at the end,
# whatever happened. Usage: scripts/windows-test.sh [extra ctest arguments]
# Layout and what Wine does not prove: docs/windows.md.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
stage_start=$SECONDS

export MORVEX_WINDEPS=${MORVEX_WINDEPS:-$ROOT/build-windeps}
BUILD=$ROOT/build-windows
WINE_BIN=/usr/lib/wine
WINE_USER=morvex-wine

log() { echo "windows-test: $*"; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# What running needs beyond what building needs.
PACKAGES=(wine64 xvfb xauth locales python3-pyftpdlib zip unzip ccache)
source "$ROOT/scripts/apt-missing.sh"
install_missing "${PACKAGES[@]}"

deps_start=$SECONDS
bash scripts/windows-deps.sh
log "dependencies ready in $((SECONDS - deps_start)) s"

mkdir -p "$BUILD"

# Wine will not use a prefix that another user owns, and is not meant to run as
# root: as root, the test programs run as a system user of their own (through
# cmake/wine-run.sh), provided that user can reach the tree.
as_wine=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id "$WINE_USER" >/dev/null 2>&1; then
    useradd --system --create-home --home-dir "/var/lib/$WINE_USER" --shell /usr/sbin/nologin "$WINE_USER"
  fi
  if runuser -u "$WINE_USER" -- test -r "$ROOT/CMakeLists.txt" -a -x "$BUILD"; then
    export MORVEX_WINE_USER=$WINE_USER
    as_wine=(runuser -u "$WINE_USER" --)
  else
    log "user $WINE_USER cannot read $ROOT: Wine runs as root"
  fi
fi

# A private prefix, made afresh for each run so that nothing of an earlier run
# (registry, files in its temporary folder) can change a result.
export WINEPREFIX=$BUILD/wine-prefix
# A server left by an interrupted run would otherwise stay forever (-p).
if [ -d "$WINEPREFIX" ]; then
  "${as_wine[@]}" "$WINE_BIN/wineserver" -k 2>/dev/null || true
fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
[ -z "${MORVEX_WINE_USER:-}" ] || chown -R "$WINE_USER" "$BUILD"
export WINEDEBUG=-all
# No questions about downloading its .NET and HTML engines.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its ANSI code page from the locale: zh_CN gives 936, which the
# programs' Chinese texts and file names need. The locale is compiled into a
# private folder, so the machine's locale settings stay as they are.
export LOCPATH=$BUILD/locale
if [ ! -d "$LOCPATH/zh_CN.UTF-8" ]; then
  mkdir -p "$LOCPATH"
  localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8" || [ -d "$LOCPATH/zh_CN.UTF-8" ]
fi
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

xvfb_pid=""
broker_pid=""
stop_broker() {
  if [ -n "$broker_pid" ]; then
    # As another user the broker runs under runuser, which would only report
    # the signal and pass it on: the broker itself gets it.
    local target
    target=$(pgrep -P "$broker_pid" || true)
    kill ${target:-$broker_pid} 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
  fi
  [ -z "${broker_file:-}" ] || rm -f "$broker_file"
}
cleanup() {
  stop_broker
  "${as_wine[@]}" env WINEPREFIX="$WINEPREFIX" "$WINE_BIN/wineserver" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  [ -z "${display_file:-}" ] || rm -f "$display_file"
}
trap cleanup EXIT

# The window tests' display: Xvfb picks a free display number and tells it.
# No access control, since the programs run as another user than the server.
display_file=$(mktemp)
Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1280x1024x24 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1 300); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { log "Xvfb did not start"; exit 1; }
  sleep 0.1
done
[ -s "$display_file" ] || { log "Xvfb gave no display"; exit 1; }
export DISPLAY=:$(head -n1 "$display_file")

# One Wine server for the whole run, and one program to create the prefix:
# without them every test pays for starting Wine.
wine_start=$SECONDS
"${as_wine[@]}" "$WINE_BIN/wineserver" -p
"${as_wine[@]}" "$WINE_BIN/wine64" cmd /c exit
log "Wine ready in $((SECONDS - wine_start)) s (prefix $WINEPREFIX, display $DISPLAY)"

build_start=$SECONDS
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset windows "${launcher[@]}" >/dev/null
nice cmake --build "$BUILD" -j2
[ -z "${MORVEX_WINE_USER:-}" ] || chown -R "$WINE_USER" "$BUILD"
log "cross build in $((SECONDS - build_start)) s"

# The Windows suites' FTP servers are Linux programs, which a Windows program
# cannot start: a broker on 127.0.0.1 starts each for the connection a test
# opens, and stops it when that connection ends (tests/wine/host_broker.py).
# It runs as the programs' user, since the servers write into their folders,
# and starts nothing but the FTP server.
broker_file=$(mktemp)
broker_allow=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1:]))' \
  /usr/bin/python3 "$ROOT/tests/ftp/ftpserver.py")
"${as_wine[@]}" /usr/bin/python3 "$ROOT/tests/wine/host_broker.py" --allow "$broker_allow" >"$broker_file" &
broker_pid=$!
for _ in $(seq 1 600); do
  [ -n "$(head -n1 "$broker_file")" ] && break
  kill -0 "$broker_pid" 2>/dev/null || { log "the host broker did not start"; exit 1; }
  sleep 0.1
done
export MORVEX_HOST_BROKER=$(head -n1 "$broker_file")
[ -n "$MORVEX_HOST_BROKER" ] || { log "the host broker gave no port"; exit 1; }

test_start=$SECONDS
rc=0
ctest --test-dir "$BUILD" --output-on-failure -j 2 --timeout 600 "$@" || rc=$?
log "tests in $((SECONDS - test_start)) s"
stop_broker
unset MORVEX_HOST_BROKER

# Tests driven from Linux (tests/wine/compare, tests/wine/e2e): a native build
# asks the same INI and code page questions of the POSIX layer and of
# platform_oracle.exe under Wine, and runs MorvexUpdate.exe in the Linux
# suites' update scene (FTP server on 127.0.0.1).
native_start=$SECONDS
NATIVE=$BUILD/native
cmake -S . -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_BUILD_GUI=OFF \
  -DMORVEX_BUILD_BENCH=OFF "${launcher[@]}" \
  -DMORVEX_WINDOWS_BIN="$BUILD/bin" >/dev/null
nice cmake --build "$NATIVE" -j2 --target wine_compare_tests wine_e2e_tests wine_journal_tests
ctest --test-dir "$NATIVE" -L wine --output-on-failure --timeout 900 || rc=$?
log "tests driven from Linux in $((SECONDS - native_start)) s"

# The zip a product team takes, with its check that the programs need no DLL
# that Windows does not bring.
bash scripts/windows-package.sh "$BUILD" || rc=1
log "Windows stage wall time: $((SECONDS - stage_start)) s"
exit $rc
