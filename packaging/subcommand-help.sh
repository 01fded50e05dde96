#!/bin/sh
# Writes a help2man include file with each sub-command's --help, so that the man page of a
# program with sub-commands shows them all.
#   subcommand-help.sh PROGRAM OUT SUBCOMMAND...
# A SUBCOMMAND of several words ("job show") is a sub-command's own sub-command.
set -eu
program=$1
out=$2
shift 2
{
  echo '[SUB-COMMANDS]'
  for sub in "$@"; do
    echo ".SS $sub"
    echo '.nf'
    # shellcheck disable=SC2086  # the words of a sub-command's sub-command
    "$program" $sub --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo '.fi'
  done
} >"$out"
