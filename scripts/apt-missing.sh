# Sourced by the Windows scripts: install_missing PACKAGE... installs, without
# recommended packages, those of the Debian packages that are not installed yet.
install_missing() {
  local missing=() p sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}
