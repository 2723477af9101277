#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config
      qt6-base-dev qt6-base-dev-tools qt6-declarative-dev libqt6sql6-sqlite libqt6sql6-psql libgl-dev
      libcpp-httplib-dev libboost1.81-dev zlib1g-dev libssl-dev libsqlite3-dev libpq-dev libsodium-dev libgtest-dev
      fonts-dejavu-core
      curl openssl # the transport tests' independent HTTPS client and their test CA
      poppler-utils # pdftotext reads back the PDFs that the scenarios write
      libqt6svg6 qt6-svg-dev qt6-translations-l10n # icons, the toolkit's Portuguese texts
      dpkg-dev desktop-file-utils adduser) # packages (scripts/package.sh)
for opt in "$@"; do
  case "$opt" in
    --with-postgres) pkgs+=(postgresql) ;;
    --with-fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;; # libFuzzer and the sanitizers
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Instalando pacotes: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
