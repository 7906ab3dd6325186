#!/usr/bin/env bash
# The desktop files are valid: the desktop entry, the MIME package, the
# metainfo; every help context the program uses has its anchor in the manual;
# the bash completion of brc offers its commands and options.
# Usage: files_test.sh SOURCE_DIR BRC
set -uo pipefail
src=$1 brc=$2
fail=0
check() { # description, command...
  local what=$1
  shift
  if ! out=$("$@" 2>&1); then
    echo "FAIL: $what"
    echo "$out"
    fail=1
  fi
}

check "desktop entry" desktop-file-validate "$src/data/carryvale.desktop"
check "metainfo" appstreamcli validate --no-net --pedantic "$src/data/org.example.carryvale.metainfo.xml"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/mime/packages"
cp "$src/data/carryvale-mime.xml" "$scratch/mime/packages/carryvale.xml"
check "MIME package" update-mime-database "$scratch/mime"
check "MIME type registered" grep -q '^application/x-carryvale-briefcase$' "$scratch/mime/types"
check "MIME glob" grep -q '^application/x-carryvale-briefcase:\*\.brc$' "$scratch/mime/globs"

# Help contexts: numbers given to helpContext / HelpContext / kHelp... in the
# sources, and ctx-N references, each need id="ctx-N" in the manual.
contexts=$(grep -rhoE '([Hh]elp[A-Za-z]*(Context|Ctx)[A-Za-z]*\s*(=|\(|\{)\s*[0-9]{3,5})|ctx-[0-9]{3,5}' \
             "$src/src" | grep -oE '[0-9]{3,5}$' | sort -u)
for n in $contexts 2011 801 802 803 807 808 809; do
  if ! grep -qE "id=\"ctx-$n\"" "$src"/docs/manual/*.html; then
    echo "FAIL: help context $n has no anchor ctx-$n in the manual"
    fail=1
  fi
done
# Every link inside the manual leads to a page and an anchor that exist.
for f in "$src"/docs/manual/*.html; do
  for link in $(grep -oE 'href="[a-z-]+\.html(#[a-zA-Z0-9-]+)?"' "$f" | sed 's/href="//; s/"$//'); do
    page=${link%%#*} anchor=${link#*#}
    if [[ ! -f $src/docs/manual/$page ]] ||
       { [[ $link == *#* ]] && ! grep -q "id=\"$anchor\"" "$src/docs/manual/$page"; }; then
      echo "FAIL: $(basename "$f") links to $link, which does not exist"
      fail=1
    fi
  done
done

# Bash completion, with the two helpers of the bash-completion package stubbed.
completion() { # words of the line, the last one being completed
  bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    _filedir() { COMPREPLY=("<files${1:+ $1}>"); }
    complete() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _brc; printf "%s\n" "${COMPREPLY[@]}"' _ "$src/data/completion/brc" "$brc" "${@:2}"
}
want() { # expected line, words...
  local line=$1
  shift
  if ! completion "$@" | grep -qxF -- "$line"; then
    echo "FAIL: completing '$*' does not offer '$line':"
    completion "$@"
    fail=1
  fi
}
want unload brc un
want --version brc --
want --replace brc unload w.brc --re
want --remove brc unload w.brc --re
want all brc unload w.brc --replace a
want "<files brc>" brc load ""
want "<files>" brc load w.brc ""
want "<files -d>" brc new w.brc --folder ""
exit $fail
