#!/usr/bin/env bash
# Writes the manual page brc(1): the fixed text of docs/man/brc.1.in with the
# COMMANDS section taken from the program's own help, so the page always
# describes the commands and options of the program it ships with.
# Usage: brc-manpage.sh BRC_PROGRAM TEMPLATE OUTPUT
set -euo pipefail
brc=$1 template=$2 out=$3

# One roff paragraph per line of help text; options become tagged paragraphs.
roff() {
  sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/' -e 's/-/\\-/g' | awk '
    /^Usage: /     { next }
    /^Options:$/   { next }
    /^  \\-\\-help / { next }
    /^  \\-/       { sub(/^  /, ""); n = index($0, "  ");
                     if (n == 0) { print ".TP\n.B " $0; next }
                     opt = substr($0, 1, n - 1); text = substr($0, n); sub(/^ +/, "", text);
                     print ".TP\n.B " opt; print text; next }
    /^$/           { print ".PP"; next }
                   { print }'
}

version=$("$brc" --version | awk '{print $2}')
commands=$("$brc" --help | awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1} on && /^$/ {on = 0}')
{
  for c in $commands; do
    usage=$("$brc" "$c" --help | sed -n 's/^Usage: brc //p' | sed -e 's/\\/\\e/g' -e 's/-/\\-/g')
    printf '.SS %s\n.B brc\n%s\n.PP\n' "$c" "$usage"
    "$brc" "$c" --help | tail -n +3 | roff
  done
} > "$out.commands"
awk -v version="$version" -v cmds="$out.commands" '
  /^@COMMANDS@$/ { while ((getline line < cmds) > 0) print line; next }
  { gsub(/@VERSION@/, version); print }' "$template" > "$out"
rm -f "$out.commands"
