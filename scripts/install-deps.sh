#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libsqlite3-dev libicu-dev libldap-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core
          libmicrohttpd-dev nlohmann-json3-dev libcrypt-dev libcurl4-gnutls-dev
          qt6-translations-l10n)
if [ "${1:-}" = "--test" ]; then
  # dpkg-dev (dpkg-shlibdeps), file and lintian: the package check (scripts/check-package.sh).
  # The Samba AD DC for the AD tests. samba-dsdb-modules, samba-ad-provision and samba-vfs-modules
  # are only "Recommends" of samba, but a DC cannot be provisioned without them (provision sets
  # the sysvol ACL through the acl_xattr module). Chromium and its driver: the page tested in a real browser.
  packages+=(slapd ldap-utils openssl clang libclang-rt-14-dev squid dpkg-dev file lintian
             samba samba-dsdb-modules samba-ad-provision samba-vfs-modules
             chromium chromium-driver python3-selenium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# slapd's (and squid's, samba's) package would start a system server, slapd would ask for a password; keep
# them quiet and stopped.
if printf '%s\n' "${missing[@]}" | grep -qxE 'slapd|squid|samba'; then
  echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
