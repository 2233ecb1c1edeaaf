#!/bin/sh
# Every option and command the program's --help names is documented in the
# manual page. Usage: check_man.sh PROGRAM MANPAGE
set -eu
program="$1"
page="$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Words of the help: "--data-dir", "-h", and the commands in its first column.
env -u DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$scratch/help"
{ grep -o -- '--[a-z][a-z-]*' "$scratch/help"
  grep -o -- '\(^\|[ ,]\)-[a-z]\b' "$scratch/help" | tr -d ' ,'
  sed -n '/^Команды:/,/^$/p' "$scratch/help" | grep -o '^  [a-z][a-z]*'  | tr -d ' '
} | sort -u >"$scratch/words"
# The page as troff writes it: "\-" is a minus.
sed 's/\\-/-/g' "$page" >"$scratch/page"
status=0
while read -r word; do
    grep -q -- "\(^\|[^a-z-]\)$word\([^a-z-]\|$\)" "$scratch/page" ||
        { echo "not in the manual page: $word"; status=1; }
done <"$scratch/words"
[ -s "$scratch/words" ] || { echo "no option read from --help"; status=1; }
exit $status
