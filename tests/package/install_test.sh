#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR VERSION
#
# The packages as a Debian user meets them: made by cpack from the build
# folder, checked by lintian, installed with dpkg into a throw-away root (its
# own dpkg database; the machine's database is mounted read-only meanwhile) and
# used from there as docs/integration.md says: morvex-install-updater into a
# fresh product folder, the guide's C and C++ waiting examples around a
# no-update check against the local FTP server, and CvGlance showing an .htm
# resume under Xvfb.
set -euo pipefail
build=$(readlink -f "$1")
src=$(readlink -f "$2")
version=$3

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: needs root for a private mount namespace"
    exit 77
fi

work=$(mktemp -d /tmp/morvex-package.XXXXXX)
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() {
    echo "-- $* (${SECONDS} s)"
}
# wait_for TEST SECONDS: polls a condition; the bound only guards against hanging.
wait_for() {
    local i
    for i in $(seq 1 $(($2 * 10))); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

step "making the packages with cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
packages=(morvex-update cvglance morvex-publish haltwick)
debs=()
for package in "${packages[@]}"; do
    deb=$work/out/${package}_${version}_${arch}.deb
    [ -f "$deb" ] || { ls "$work/out"; fail "no $deb"; }
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package: version is not $version"
    debs+=("$deb")
done
# Dependencies: the libraries the binaries link, plus the programs they call.
depends=$(dpkg-deb -f "$work/out/cvglance_${version}_${arch}.deb" Depends)
for needed in libc6 libwx libgmime libcurl libreoffice-writer-nogui fonts-wqy-microhei; do
    [[ $depends == *"$needed"* ]] || fail "cvglance does not depend on $needed: $depends"
done
[[ $(dpkg-deb -f "$work/out/morvex-update_${version}_${arch}.deb" Depends) == *xdg-utils* ]] ||
    fail "morvex-update does not depend on xdg-utils"
tarball=$work/out/morvex-update-${version}-Linux.tar.gz
[ -f "$tarball" ] || { ls "$work/out"; fail "no updater tarball"; }
listing=$(tar -tzf "$tarball")
for file in bin/morvex-install-updater lib/morvex-update/MorvexUpdate lib/morvex-update/libMorvexUpdateUi.so; do
    grep -qx "morvex-update-${version}-Linux/$file" <<< "$listing" || fail "the tarball lacks $file"
done
grep -q -e CvGlance -e Haltwick <<< "$listing" && fail "the tarball carries more than the updater"

step "lintian"
# Errors fail the test; every warning left must be one the guide explains.
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" > "$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian reports errors"; }
cat "$work/lintian.log"
while read -r tag; do
    grep -q -- "\`$tag\`" "$src/docs/integration.md" ||
        fail "lintian warns $tag, which docs/integration.md does not explain"
done < <(sed -n 's/^[WE]: [^:]*: \([^ ]*\).*/\1/p' "$work/lintian.log" | sort -u)

step "installing into a throw-away root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
touch "$root/var/lib/dpkg/status"
# The root has no packages of its own: the dependencies are the machine's.
# dpkg sees the machine's own database read-only, so a slip could not change it.
unshare --mount --propagation private sh -c \
    'mount --bind /var/lib/dpkg /var/lib/dpkg && mount -o remount,bind,ro /var/lib/dpkg && exec "$@"' sh \
    dpkg --root="$root" --log="$work/dpkg.log" --force-depends -i "${debs[@]}" \
    > "$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; fail "dpkg -i failed"; }
for package in "${packages[@]}"; do
    [ "$(dpkg-query --root="$root" -W -f='${Status} ${Version}' "$package")" = "install ok installed $version" ] ||
        fail "$package is not installed in the throw-away root"
done
usr=$root/usr
for file in lib/morvex-update/MorvexUpdate lib/morvex-update/libMorvexUpdateUi.so bin/morvex-install-updater \
            lib/cvglance/CvGlance lib/cvglance/libDocvert_u.so lib/cvglance/docvert-service \
            lib/cvglance/res/loading.htm \
            bin/morvex-publish bin/Haltwick; do
    [ -f "$usr/$file" ] || fail "not installed: /usr/$file"
done
[ "$(readlink "$usr/bin/CvGlance")" = ../lib/cvglance/CvGlance ] || fail "/usr/bin/CvGlance does not lead to the program"
# Nothing may look into the build folder once installed.
elves=0
while read -r elf; do
    elves=$((elves + 1))
    if readelf -d "$elf" | grep -E 'R(UN)?PATH'; then
        fail "$elf carries a run path"
    fi
done < <(find "$usr" -type f \( -name '*.so' -o -perm -u+x \) -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)
[ "$elves" -eq 7 ] || fail "expected 7 programs and libraries, found $elves"
# The version as users look for it.
readelf -n "$usr/lib/morvex-update/MorvexUpdate" | grep -q "Morvex.*NT_VERSION" || fail "MorvexUpdate has no version note"
for described in "morvex-update/MorvexUpdate=Morvex自动升级程序V${version%.*.*}" \
                 "cvglance/CvGlance=CvGlance ${version%.*.*} 版"; do
    note=$(strings -e S "$usr/lib/${described%%=*}" | grep '^File')
    [[ $note == *"FileVersion=$version"* && $note == *"FileDescription=${described#*=}"* ]] ||
        fail "${described%%=*}'s version note: $note"
done

export PATH=$usr/bin:$PATH

step "morvex-install-updater"
product=$work/zentora
if morvex-install-updater "$product" > "$work/refused.out" 2>&1; then
    fail "morvex-install-updater accepted a folder that does not exist"
fi
grep -q "is not a folder" "$work/refused.out" || fail "no reason given: $(cat "$work/refused.out")"
[ ! -e "$product" ] || fail "morvex-install-updater created $product"
mkdir "$product"
morvex-install-updater "$product" > "$work/installed.out"
grep -q "copied MorvexUpdate and libMorvexUpdateUi.so (version $version) into $product" "$work/installed.out" ||
    fail "morvex-install-updater did not say what it did: $(cat "$work/installed.out")"
for file in MorvexUpdate libMorvexUpdateUi.so; do
    cmp -s "$usr/lib/morvex-update/$file" "$product/$file" || fail "$file was not copied"
done
[ -x "$product/MorvexUpdate" ] || fail "MorvexUpdate is not executable"
# The tarball's copy of the command works from wherever it is unpacked.
mkdir "$work/unpacked" "$work/other-product"
tar -xzf "$tarball" -C "$work/unpacked"
"$work/unpacked/morvex-update-${version}-Linux/bin/morvex-install-updater" "$work/other-product" > /dev/null 2>&1 ||
    fail "the tarball's morvex-install-updater failed"
cmp -s "$usr/lib/morvex-update/MorvexUpdate" "$work/other-product/MorvexUpdate" || fail "the tarball's updater differs"

step "a no-update check against the local FTP server"
served=$work/served
mkdir -p "$served" "$work/release"
/usr/bin/python3 "$src/tests/ftp/ftpserver.py" --root "$served" --user zentora-update --password s3cret \
    --quiet > "$work/ftp.out" 2> "$work/ftp.err" &
started+=($!)
wait_for '[ -s "$work/ftp.out" ]' 30 || fail "the FTP server did not start: $(cat "$work/ftp.err")"
port=$(head -n 1 "$work/ftp.out")
login=(--host "127.0.0.1:$port" --user zentora-update --password s3cret)
echo "Zentora 1.0.0.7" > "$work/release/Zentora"
morvex-publish server --code zt_e --version 1.0.0.7 "${login[@]}" --update-dir "$work/release" \
    --out "$served" > "$work/publish.out"
morvex-publish installed --code zt_e --version 1.0.0.7 "${login[@]}" --out "$product" >> "$work/publish.out"
cp "$product/version.ini" "$work/version.ini.before"

# The guide's examples, as they stand there.
for language in c cpp; do
    awk -v fence="\`\`\`$language" '$0 == fence {on=1; next} /^```$/{on=0} on' "$src/docs/integration.md" \
        > "$work/wait_for_update.$language"
    [ -s "$work/wait_for_update.$language" ] || fail "the guide lost its $language example"
done
cc -Wall -Wextra -Werror -o "$work/wait_c" "$work/wait_for_update.c" -pthread
c++ -std=c++20 -Wall -Wextra -Werror -o "$work/wait_cpp" "$work/wait_for_update.cpp" -pthread
# The completion event is a machine-wide name: each example runs in a mount
# namespace of its own with a private /dev/shm, so no other run can post it.
for example in wait_c wait_cpp; do
    unshare --mount --propagation private sh -c 'mount -t tmpfs morvex-shm /dev/shm && exec "$@"' sh \
        "$work/$example" "$product" > "$work/$example.out" 2>&1 ||
        fail "$example: no completion event: $(cat "$work/$example.out")"
    grep -q "no update due" "$work/$example.out" || fail "$example: $(cat "$work/$example.out")"
done
cmp -s "$work/version.ini.before" "$product/version.ini" || fail "the check changed the installed manifest"
[ ! -e "$product/update.zip" ] || fail "the check downloaded the update"

step "the copied updater loads its window module when an update is due"
# Without a display it stops right after loading the module, changing nothing;
# a module that cannot be loaded (or cannot find the program's symbols) says so.
morvex-publish server --code zt_e --version 1.0.0.8 "${login[@]}" --update-dir "$work/release" \
    --out "$served" > /dev/null
status=0
(cd "$product" && env -u DISPLAY -u WAYLAND_DISPLAY ./MorvexUpdate) > "$work/due.out" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "an update is due, but no display can be opened" "$work/due.out" ||
    fail "the updater with an update due: status $status, $(cat "$work/due.out")"
cmp -s "$work/version.ini.before" "$product/version.ini" || fail "the updater changed the installed manifest"

step "CvGlance shows an .htm resume under Xvfb"
viewer=$work/viewer
mkdir -p "$viewer/tmp"
cp "$src/tests/viewer/e2e/fixtures/resume.htm" "$served/resume.htm"
cp "$src/tests/viewer/e2e/fixtures/photo.png" "$served/photo.png"
cat > "$work/show.sh" <<SHOW
#!/bin/sh
CVGLANCE_TRACE=1 CvGlance 张伟的简历 resume1 "ftp://127.0.0.1:$port/resume.htm" zentora-update s3cret $port "$viewer" \\
    2> "$work/viewer.log" &
viewer=\$!
shown=1
for i in \$(seq 1 600); do
    if grep -qs "page loaded $viewer/tmp/resume1.htm" "$work/viewer.log"; then shown=0; break; fi
    kill -0 \$viewer 2>/dev/null || break
    sleep 0.1
done
kill \$viewer 2>/dev/null
wait \$viewer 2>/dev/null
exit \$shown
SHOW
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$work/show.sh" ||
    fail "CvGlance did not show the resume: $(cat "$work/viewer.log")"

step "done"
