#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail

packages=(cmake g++ make pkg-config zlib1g-dev libjpeg-dev qt6-base-dev libgl-dev
          libsqlite3-dev libssl-dev
          libgtest-dev python3 libarchive-tools p7zip-full xauth xvfb
          desktop-file-utils appstream shared-mime-info libglib2.0-bin dpkg-dev
          exfat-fuse exfatprogs ntfs-3g dosfstools fusefat)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
