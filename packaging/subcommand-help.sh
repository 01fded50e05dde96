#!/bin/sh
# Writes a help2man include file with each sub-command's --help, so that the man page of a
# program with sub-commands shows them all.
#   subcommand-help.sh PROGRAM OUT SUBCOMMAND...
set -eu
program=$1
out=$2
shift 2
{
  echo '[SUB-COMMANDS]'
  for sub in "$@"; do
    echo ".SS $sub"
    echo '.nf'
    "$program" "$sub" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo '.fi'
  done
} >"$out"
