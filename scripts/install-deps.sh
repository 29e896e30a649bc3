#!/usr/bin/env bash
# Installs what building and testing mirdcng needs on a fresh Debian 12 machine,
# and nothing when it is all there already. Extra package names may be given
# as arguments (the Windows build asks for its cross compiler and Wine).
set -euo pipefail

packages=(cmake ninja-build g++ clang libssl-dev openssl libgtest-dev
          libbenchmark-dev libclang-rt-14-dev libcli11-dev nlohmann-json3-dev pkg-config dpkg-dev clang-format lintian "$@")
missing=()
for package in "${packages[@]}"; do
  if [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) != "install ok installed" ]]; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
