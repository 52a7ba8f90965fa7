#!/usr/bin/env bash
# Prints a help2man include file for PROGRAM: the sections of STATIC (masks, exit status,
# environment, files, examples), a SUBCOMMANDS section with the help of each of PROGRAM's
# sub-commands, down to the last level (the program lists them with --list-commands, one a
# line, "table export" for a sub-command's own), as preformatted text, and a SEE ALSO section.
set -euo pipefail
program=$1 static=$2
cat "$static"
echo "[SUBCOMMANDS]"
"$program" --list-commands | while read -r -a sub; do
  echo ".SS \"$(basename "$program") ${sub[*]}\""
  echo ".nf"
  # Backslashes escaped, and lines that roff would read as requests kept as text.
  "$program" "${sub[@]}" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
  echo ".fi"
done
echo "[SEE ALSO]"
echo ".BR genform (1)"
