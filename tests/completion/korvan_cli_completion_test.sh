#!/usr/bin/env bash
# korvan-cli's bash completion as an interactive shell runs it: each row is a command line typed
# so far and the words the completion must offer (sorted; "" for none). Run by CTest:
#   korvan_cli_completion_test.sh COMPLETION_FILE KORVAN_CLI
set -uo pipefail
completion=$1
cli=$2
library=/usr/share/bash-completion/bash_completion
if [ ! -r "$library" ]; then
  echo "SKIP: $library is missing (scripts/setup installs bash-completion)"
  exit 77
fi
# shellcheck source=/dev/null
source "$library"
# shellcheck source=/dev/null
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch app.hex bind.txt wire.trace report.html
mkdir logs

# Completes LINE (the cursor at its end) and prints the offered words, sorted, on one line.
offered() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -r -a COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_WORDS[0]=$cli
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _korvan_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

status=0
while IFS='|' read -r line expected; do
  got=$(offered "$line")
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' offered '$got', expected '$expected'"
    status=1
  else
    echo "ok: '$line' -> '$got'"
  fi
done <<'EOF'
korvan-cli trace |app.hex bind.txt logs report.html wire.trace
korvan-cli trace w|wire.trace
korvan-cli run --bind |app.hex bind.txt logs report.html wire.trace
korvan-cli run --trace w|wire.trace
korvan-cli run --chip N32G452CBL7 --trace |app.hex bind.txt logs report.html wire.trace
korvan-cli run --records |logs
korvan-cli records --summary --html |logs report.html
korvan-cli records --result |ng ok
korvan-cli run --chip N32G452CBL7 a|app.hex auto
korvan-cli convert --chip N32G452CBL7 |app.hex logs
korvan-cli trace wire.trace --channel |
korvan-cli job |approve list require revoke show
korvan-cli job show --chip N32G452CBL7 |app.hex logs
korvan-cli job show --no-program|--no-program-ob
korvan-cli job require |off on
korvan-cli run --approved-jobs |app.hex bind.txt logs report.html wire.trace
EOF
exit "$status"
