#!/usr/bin/env bash
# vsftpd_checks.sh PORT WORK: what the updater's account may and may not do on
# the server that vsftpd_test.sh started (run inside its namespace).
set -uo pipefail
port=$1
work=$2
url=ftp://127.0.0.1:$port
account=zentora-update:s3cret
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
for file in version.ini update.zip; do
    curl -sS -u "$account" "$url/update/zt_e/$file" -o "$work/got.$file" || fail "cannot download $file"
    cmp -s "$work/got.$file" "$work/out/update/zt_e/$file" || fail "$file arrived changed"
done
echo "downloads as zentora-update: ok"

echo new > "$work/new.txt"
curl -sS -u "$account" -T "$work/new.txt" "$url/update/zt_e/new.txt" 2> /dev/null && fail "an upload was accepted"
[ ! -e /srv/morvex-ftp/update/zt_e/new.txt ] || fail "an upload arrived"
curl -sS -u "$account" -T "$work/new.txt" "$url/update/zt_e/version.ini" 2> /dev/null && fail "an overwrite was accepted"
curl -sS -u "$account" "$url/" -Q "DELE update/zt_e/version.ini" > /dev/null 2>&1 && fail "a delete was accepted"
curl -sS -u "$account" "$url/" -Q "MKD extra" > /dev/null 2>&1 && fail "a new folder was accepted"
curl -sS -u "$account" "$url/" -Q "RNFR update/zt_e/update.zip" -Q "RNTO update/zt_e/moved.zip" > /dev/null 2>&1 &&
    fail "a rename was accepted"
cmp -s /srv/morvex-ftp/update/zt_e/version.ini "$work/out/update/zt_e/version.ini" || fail "the release changed"
[ -z "$(find /srv/morvex-ftp -newer "$work/new.txt" -print -quit)" ] || fail "something was written below /srv/morvex-ftp"
echo "upload, overwrite, delete, mkdir, rename as zentora-update: refused"

curl -sS -u "$account" "$url/etc/passwd" -o /dev/null 2> /dev/null && fail "the account sees outside its root"
curl -sS -u zentora-update:wrong "$url/update/zt_e/version.ini" -o /dev/null 2> /dev/null && fail "a wrong password got in"
curl -sS -u someone-else:s3cret "$url/update/zt_e/version.ini" -o /dev/null 2> /dev/null &&
    fail "an account not on the list got in"
curl -sS "$url/update/zt_e/version.ini" -o /dev/null 2> /dev/null && fail "an anonymous login got in"
echo "outside the root, wrong password, unlisted account, anonymous: refused"
