#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only where they are missing.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 googletest cmake make
          python3-pytest tinyproxy nginx-light python3-django-oauth-toolkit openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
