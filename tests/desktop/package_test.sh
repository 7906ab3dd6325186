#!/usr/bin/env bash
# Builds the Debian package from the install rules, checks that Debian's
# package tools accept it, unpacks it into a scratch root and runs the
# programs from there: brc --version, --help, a new/load/unload cycle between
# two computers, carryvale --version and carryvale offscreen on a briefcase.
# Exits 77 (skipped) where no package can be built.
# Usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$1
for tool in cpack dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: no $tool on this machine, so no Debian package can be built"
    exit 77
  fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
say() { echo "FAIL: $*"; fail=1; }

if ! (cd "$scratch" && cpack -G DEB -B "$scratch/pkg" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1); then
  cat "$scratch/cpack.log"
  say "cpack could not build the package"
  exit 1
fi
deb=$(ls "$scratch"/pkg/carryvale_*.deb)
info=$(dpkg-deb --info "$deb")
grep -q '^ Depends: .*libqt6widgets6' <<<"$info" || say "the package does not depend on Debian's Qt: $info"
# apt would install it here: every dependency resolves from Debian's packages.
if [[ -d /var/lib/apt/lists ]] && ls /var/lib/apt/lists/*Packages* >/dev/null 2>&1; then
  apt-get install -s -qq "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; say "apt cannot install the package"; }
fi

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/carryvale usr/bin/brc usr/share/applications/carryvale.desktop \
         usr/share/mime/packages/carryvale.xml usr/share/metainfo/org.example.carryvale.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/carryvale.svg usr/share/icons/hicolor/48x48/apps/carryvale.png \
         usr/share/icons/hicolor/48x48/mimetypes/application-x-carryvale-briefcase.png \
         usr/share/carryvale/manual/index.html usr/share/carryvale/manual/problems.html \
         usr/share/man/man1/carryvale.1 usr/share/man/man1/brc.1 \
         usr/share/bash-completion/completions/brc; do
  [[ -e $root/$f ]] || say "the package lacks /$f"
done

# The programs, run from the unpacked root in a private home.
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
export XDG_DATA_HOME=$scratch/data XDG_RUNTIME_DIR=$scratch/runtime TMPDIR=$scratch/tmp
mkdir -p "$HOME" "$TMPDIR" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
bin=$root/usr/bin
"$bin/brc" --version | grep -qx 'brc 2.0.3.0' || say "brc --version"
"$bin/brc" --help | grep -q '^  unload ' || say "brc --help"
"$bin/carryvale" --version | grep -qx 'carryvale 2.0.3.0' || say "carryvale --version"
mkdir -p "$scratch/home/a/sub" "$scratch/home/b"
printf 'one\n' >"$scratch/home/a/one.txt"
printf 'two\n' >"$scratch/home/a/sub/two.txt"
brief=$scratch/stick/work.brc
mkdir -p "$scratch/stick"
CARRYVALE_COMPUTER_ID=AAAA0001 "$bin/brc" new "$brief" --folder "$scratch/home/a" >/dev/null || say "brc new"
CARRYVALE_COMPUTER_ID=AAAA0001 "$bin/brc" load "$brief" >/dev/null || say "brc load"
CARRYVALE_COMPUTER_ID=BBBB0002 "$bin/brc" unload "$brief" --folder "$scratch/home/b" --replace none --keep \
  >/dev/null || say "brc unload"
cmp -s "$scratch/home/a/sub/two.txt" "$scratch/home/b/sub/two.txt" || say "the unload did not bring sub/two.txt"
cmp -s "$scratch/home/a/one.txt" "$scratch/home/b/one.txt" || say "the unload did not bring one.txt"
# The window, offscreen, on that briefcase: still running after a few seconds.
CARRYVALE_COMPUTER_ID=AAAA0001 QT_QPA_PLATFORM=offscreen timeout 4 "$bin/carryvale" "$brief" \
  >"$scratch/window.log" 2>&1
[[ $? == 124 ]] || { cat "$scratch/window.log"; say "carryvale offscreen ended early"; }

# The file type: a .brc is ours once the MIME database knows the package, a
# plain ZIP file stays a ZIP file.
if command -v update-mime-database >/dev/null && command -v gio >/dev/null; then
  mkdir -p "$scratch/share"
  cp -r "$root/usr/share/mime" "$scratch/share/"
  cp -r /usr/share/mime/packages/freedesktop.org.xml "$scratch/share/mime/packages/" 2>/dev/null
  update-mime-database "$scratch/share/mime"
  cp "$brief" "$scratch/x.zip"
  for f in "$brief:application/x-carryvale-briefcase" "$scratch/x.zip:application/zip"; do
    type=$(XDG_DATA_DIRS=$scratch/share XDG_DATA_HOME=$scratch/none gio info -a standard::content-type "${f%%:*}" |
             sed -n 's/^ *standard::content-type: //p')
    [[ $type == "${f##*:}" ]] || say "$(basename "${f%%:*}") is $type, not ${f##*:}"
  done
fi
exit $fail
