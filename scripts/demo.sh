#!/usr/bin/env bash
# demo.sh: shows a whole update from start to finish.
#
# Sets the machine up, builds the updater and its helpers, publishes a demo
# update, signed with a fresh key (docs/signing.md), on the bundled local FTP
# server (127.0.0.1 only) speaking FTP over TLS with a certificate made for
# the demo (DEMO_TLS=0: clear text), lays out a demo
# installation of the product "Zentora" in ./demo/ with the product running,
# and runs MorvexUpdate there: in your display when DISPLAY is set (answer the
# message box yourself), otherwise under a private X server (Xvfb) where the
# message box is answered automatically and a screenshot is saved. Then it
# prints what the update changed and stops the server and the product.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build
demo=$root/demo

bash scripts/setup.sh
bash scripts/build.sh default --target MorvexUpdate MorvexUpdateUi morvex-publish Haltwick

rm -rf "$demo"
mkdir -p "$demo"/{server,update/ini,install,bin}
install_dir=$demo/install

server_pid=""
cleanup() {
  # The product may still run (started again by the update): stop it the way
  # the updater does, then the server.
  if [ -x "$install_dir/Haltwick" ]; then
    (cd "$install_dir" && ./Haltwick -k Zentora.exe) || true
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

tls=${DEMO_TLS:-1}
tls_server=()
tls_publish=()
if [ "$tls" = 1 ]; then
  echo "== making the server's TLS certificate (demo/tls, for 127.0.0.1)"
  mkdir -p "$demo/tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 -keyout "$demo/tls/key.pem" -out "$demo/tls/cert.pem" 2> /dev/null
  tls_server=(--tls "$demo/tls/cert.pem" "$demo/tls/key.pem")
  tls_publish=(--tls)
fi

echo "== starting the local FTP server"
/usr/bin/python3 tests/ftp/ftpserver.py --root "$demo/server" --user demo --password morvex-demo \
  "${tls_server[@]}" --quiet > "$demo/ftp.out" 2> "$demo/ftp.err" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$demo/ftp.out" ] && break
  sleep 0.1
done
port=$(head -n 1 "$demo/ftp.out")
[ -n "$port" ] || { echo "demo: the FTP server did not start:"; cat "$demo/ftp.err"; exit 1; }
echo "   listening on 127.0.0.1:$port"

# A stand-in for the product: notes each start and runs until it is stopped.
write_product() {
  local version=$1 file=$2
  cat > "$file" <<EOF
#!/bin/sh
echo "\$(date +%T) Zentora $version started \$*" >> "$demo/product.log"
trap 'echo "\$(date +%T) Zentora $version stopped" >> "$demo/product.log"; exit 0' TERM
while :; do sleep 1; done
EOF
  chmod +x "$file"
}

echo "== publishing update 1.0.0.2 of Zentora (zt_e)"
write_product 1.0.0.2 "$demo/update/Zentora"
cat > "$demo/update/update.txt" <<'EOF'
Zentora 1.0.0.2 更新说明
  - 新增简历筛选功能
  - 修正职位列表的排序
EOF
# The product's SQL patch, in code page 936 as the product teams write it.
iconv -f UTF-8 -t GBK > "$demo/update/ini/update.sql" <<'EOF'
CREATE TABLE release_log(version TEXT, note TEXT);
INSERT INTO release_log VALUES('1.0.0.2', '新增简历筛选功能');
UPDATE settings SET value = '1.0.0.2' WHERE key = 'version';
EOF
login=(--host "127.0.0.1:$port" --user demo --password morvex-demo)
echo "== making the team's signing key (demo/keys; no password, for the demo only)"
"$build/bin/morvex-publish" keygen --out "$demo/keys" --no-password
"$build/bin/morvex-publish" server --code zt_e --version 1.0.0.2 "${login[@]}" \
  --update-dir "$demo/update" --out "$demo/server" --sign "$demo/keys/MorvexUpdate.key" "${tls_publish[@]}"
echo "-- the minisign command agrees with the signatures:"
for file in version.ini update.zip; do
  minisign -V -p "$demo/keys/MorvexUpdate.pub" -m "$demo/server/update/zt_e/$file" | sed 's/^/   /'
done

echo "== laying out the installation in demo/install (Zentora 1.0.0.1)"
"$build/bin/morvex-publish" installed --code zt_e --version 1.0.0.1 "${login[@]}" "${tls_publish[@]}" \
  --out "$install_dir"
cp "$build/bin/MorvexUpdate" "$build/bin/libMorvexUpdateUi.so" "$build/bin/Haltwick" "$install_dir/"
# Pinning the key: from now on only updates signed by it are installed.
cp "$demo/keys/MorvexUpdate.pub" "$install_dir/"
# The team's private server: trust its certificate only.
if [ "$tls" = 1 ]; then
  cp "$demo/tls/cert.pem" "$install_dir/MorvexUpdate.ca.pem"
fi
write_product 1.0.0.1 "$install_dir/Zentora"
sqlite3 "$install_dir/jo_db_local.db" <<'EOF'
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT);
INSERT INTO settings VALUES('version', '1.0.0.1');
CREATE TABLE candidates(name TEXT, position TEXT);
INSERT INTO candidates VALUES('王芳', '会计'), ('李强', '销售经理');
EOF
# Work folders the updater clears (when empty) after restarting Zentora.
mkdir -p "$install_dir"/{d,i,l,r,t,u}
(cd "$install_dir" && ./Zentora) > /dev/null 2>&1 &
disown
ls -A "$install_dir" | sort > "$demo/files.before"
cp "$install_dir/version.ini" "$demo/version.ini.before"

echo "== running MorvexUpdate in demo/install (libcurl's transfer log: demo/updater.log)"
# The product starts the updater from its installation folder, so that is the
# current directory: the release notes and work folders are found there.
if [ -n "${DISPLAY:-}" ]; then
  echo "   answer the message box when the update is done"
  (cd "$install_dir" && ./MorvexUpdate 2> "$demo/updater.log") || echo "   MorvexUpdate ended with status $?"
else
  echo "   no DISPLAY: running under Xvfb; the message box is answered automatically"
  # Without a desktop there is no document viewer: show where the notes went.
  cat > "$demo/bin/xdg-open" <<EOF
#!/bin/sh
cp "\$1" "$demo/release-notes-shown.txt"
EOF
  chmod +x "$demo/bin/xdg-open"
  cat > "$demo/run-headless.sh" <<EOF
#!/usr/bin/env bash
cd "$install_dir"
PATH="$demo/bin:\$PATH" ./MorvexUpdate 2> "$demo/updater.log" &
pid=\$!
box=""
for _ in \$(seq 1 600); do
  box=\$(xwininfo -root -children 2>/dev/null | grep -E '"(升级成功|升级失败)"' | awk '{print \$1}' | head -n 1)
  [ -n "\$box" ] && break
  kill -0 \$pid 2>/dev/null || break
  sleep 0.1
done
if [ -n "\$box" ]; then
  # Below the dialog, so that the picture shows both.
  xdotool windowmove --sync "\$box" 370 600 || true
  sleep 0.5
  import -window root "$demo/screenshot.png"
  echo "   screenshot of the finished update: demo/screenshot.png"
  xdotool windowfocus --sync "\$box" key Return
fi
wait \$pid
EOF
  chmod +x "$demo/run-headless.sh"
  xvfb-run -a -s "-screen 0 1024x768x24" "$demo/run-headless.sh" || echo "   MorvexUpdate ended with status $?"
fi
sleep 1  # the restarted product notes its start

echo
echo "== transport"
if [ "$tls" = 1 ]; then
  echo "   FTP over TLS, certificate checked against demo/install/MorvexUpdate.ca.pem:"
  grep -m 3 -E "^> AUTH TLS|^> PROT P|SSL certificate verify ok" "$demo/updater.log" | sed 's/^/   /' || true
else
  echo "   clear text (DEMO_TLS=0)"
fi
echo "== signature checks"
if grep -q "not verified" "$demo/updater.log"; then
  grep "not verified" "$demo/updater.log" | sed 's/^/   /'
else
  echo "   version.ini and update.zip were verified against demo/install/MorvexUpdate.pub"
  echo "   (their signatures were fetched: $(grep -c 'RETR .*\.minisig' "$demo/updater.log") .minisig downloads in demo/updater.log)"
fi

echo "== what the update changed"
echo "-- installed manifest: $(grep -m1 '^ver=' "$demo/version.ini.before") -> $(grep -m1 '^ver=' "$install_dir/version.ini")"
echo "-- files in demo/install:"
ls -A "$install_dir" | sort > "$demo/files.after"
diff "$demo/files.before" "$demo/files.after" | sed -n 's/^</   removed: /p; s/^>/   added:   /p' || true
echo "   (the product program Zentora was replaced: $(grep -o 'Zentora [0-9.]*' "$install_dir/Zentora" | head -n 1))"
echo "-- database jo_db_local.db:"
sqlite3 "$install_dir/jo_db_local.db" "SELECT '   settings.version = ' || value FROM settings WHERE key = 'version';"
sqlite3 "$install_dir/jo_db_local.db" "SELECT '   release_log: ' || version || ' ' || note FROM release_log;" 2>/dev/null ||
  echo "   release_log: (none: the patch did not run)"
echo "-- the product (demo/product.log):"
sed 's/^/   /' "$demo/product.log"
if [ -f "$demo/release-notes-shown.txt" ]; then
  echo "-- release notes shown:"
  sed 's/^/   /' "$demo/release-notes-shown.txt"
fi
