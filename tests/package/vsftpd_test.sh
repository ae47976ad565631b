#!/usr/bin/env bash
# vsftpd_test.sh BUILD_DIR SOURCE_DIR
#
# The update server as docs/integration.md lays it out: its vsftpd lines run as
# they stand, in a private mount and process namespace over copies of /etc and
# /srv (the machine's accounts and files are never touched), with a release
# published by morvex-publish. The updater's account must download the
# release and must not change anything; other accounts must not get in.
set -euo pipefail
build=$(readlink -f "$1")
src=$(readlink -f "$2")

if [ "$(id -u)" -ne 0 ] || [ ! -x /usr/sbin/vsftpd ]; then
    echo "skipped: needs root and vsftpd"
    exit 77
fi

work=$(mktemp -d /tmp/morvex-vsftpd.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

mkdir -p "$work/release" "$work/srv"
echo "Zentora 1.0.0.7" > "$work/release/Zentora"
(cd "$work" && "$build/bin/morvex-publish" server --code zt_e --version 1.0.0.7 --host files.example:21 \
    --user zentora-update --password s3cret --update-dir release/ --out out/ > publish.out)

# The guide's server lines; the last starts vsftpd, which the test does itself
# with the local address and port added.
awk '/^## 5\./{s=1} /^## 6\./{s=0} s && /^```sh$/{on=1; next} s && /^```$/{on=0} s && on' \
    "$src/docs/integration.md" > "$work/guide.sh"
[ "$(tail -n 1 "$work/guide.sh")" = "vsftpd /etc/vsftpd-morvex.conf" ] || fail "the guide's server lines changed"
sed -i '$d' "$work/guide.sh"
grep -q "^cp -r out/update/zt_e /srv/morvex-ftp/update/$" "$src/docs/integration.md" ||
    fail "the guide's publishing line changed"

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cp -a /etc "$work/etc"

cat > "$work/inside.sh" <<INSIDE
set -eu
mount --bind "$work/etc" /etc
mount --bind "$work/srv" /srv
mount -t tmpfs morvex-log /var/log
cd "$src"
. "$work/guide.sh"
cd "$work"
cp -r out/update/zt_e /srv/morvex-ftp/update/
# The account owns the release here, so that only the server's configuration,
# not the files' owners, keeps it from writing.
chown -R zentora-update /srv/morvex-ftp/update
# An account that exists but is not listed for the server.
useradd --system --no-create-home --home-dir /srv/morvex-ftp --shell /usr/sbin/nologin someone-else
echo 'someone-else:s3cret' | chpasswd
/usr/sbin/vsftpd /etc/vsftpd-morvex.conf -olisten_address=127.0.0.1 -olisten_port=$port \\
    -opasv_address=127.0.0.1 -obackground=NO -oseccomp_sandbox=NO > "$work/vsftpd.out" 2>&1 &
answered=no
for i in \$(seq 1 300); do
    rc=0
    curl -s -o /dev/null "ftp://127.0.0.1:$port/" 2>/dev/null || rc=\$?
    # 67: the server answered and refused the anonymous login
    if [ \$rc -eq 67 ]; then answered=yes; break; fi
    sleep 0.1
done
[ \$answered = yes ] || { echo "FAIL: vsftpd did not answer:"; cat "$work/vsftpd.out"; exit 1; }
bash "$src/tests/package/vsftpd_checks.sh" "$port" "$work"
INSIDE
unshare --mount --pid --fork --mount-proc --propagation private --kill-child bash "$work/inside.sh"
