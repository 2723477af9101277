#!/usr/bin/env bash
# Builds the Debian packages erp-shell and rec-appserver from a build tree (default: the ci
# one, so CI reuses what it built), into BUILD/packages.
#   scripts/package.sh [BUILD_DIR]          build the packages
#   scripts/package.sh --check [BUILD_DIR]  build, install them, check them and remove them
#                                           (as root or with sudo; CI runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
build=${1:-build/ci}
[ -f "$build/CMakeCache.txt" ] || cmake --preset ci >/dev/null
cmake --build "$build" --target erp-shell rec-appserver PKG_REC00800 PKG_CTB10200 PKG_CTB10300
out=$(realpath -m "$build/packages")
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb
[ "$check" -eq 1 ] || exit 0

SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
desktop-file-validate packaging/erp-shell.desktop
for p in erp-shell rec-appserver; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "O pacote $p já está instalado nesta máquina; a verificação dos pacotes não o substitui." >&2
    exit 0
  fi
done
# Through apt so that a dpkg run of someone else is waited for rather than failed on.
apt=($SUDO apt-get -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends)
remove() { "${apt[@]}" purge erp-shell rec-appserver >/dev/null 2>&1 || true; }
trap remove EXIT
installed=$("${apt[@]}" install "$out"/erp-shell_*.deb "$out"/rec-appserver_*.deb 2>&1) || { echo "$installed" >&2; exit 1; }
# postinst migrated the configured database.
grep -q 'Esquema na versão' <<<"$installed" || { echo "$installed" >&2; echo "postinst não migrou o banco" >&2; exit 1; }
rec-appserver --version
erp-shell --version
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM erp-shell --help | grep -q -- '--server'
unit=/lib/systemd/system/rec-appserver.service
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit"
else
  # No systemd on this machine: the unit's program and user at least.
  test -x "$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")"
  getent passwd "$(sed -n 's/^User=//p' "$unit")" >/dev/null
fi
echo "Pacotes verificados: $(cd "$out" && ls *.deb | tr '\n' ' ')"
