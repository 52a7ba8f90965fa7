#!/usr/bin/env bash
# Prints a help2man include file: a SUBCOMMANDS section with the help of each of PROGRAM's
# sub-commands (PROGRAM SUB --help; the program lists them with --list-commands), as
# preformatted text, and a SEE ALSO section.
set -euo pipefail
program=$1
# shellcheck disable=SC2046 # one name a line
set -- $("$program" --list-commands)
echo "[SUBCOMMANDS]"
for sub in "$@"; do
  echo ".SS \"$(basename "$program") $sub\""
  echo ".nf"
  # Backslashes escaped, and lines that roff would read as requests kept as text.
  "$program" "$sub" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
  echo ".fi"
done
echo "[SEE ALSO]"
echo ".BR genform (1)"
