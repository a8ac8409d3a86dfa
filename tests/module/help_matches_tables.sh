#!/usr/bin/env bash
# The help inside the module says of the tables' numbers what docs/tables.md says: every
# attribute whose default there is 0 is named in the help's one text on optional numbers, and
# the help nowhere says that a missing number is refused.
#
#   help_matches_tables.sh HELP.md TABLES.md
set -uo pipefail
help=$1
tables=$2

# The paragraphs of the help, one a line.
paragraphs=$(awk 'BEGIN { RS = ""; ORS = "\n" } { gsub(/\n/, " "); print }' "$help")
optional=$(grep '^Необязательные числа' <<<"$paragraphs")
status=0
[[ -n $optional ]] || { echo "the help has no text on optional numbers"; exit 1; }
[[ $(grep -c 'Необязательные числа' <<<"$paragraphs") == 1 ]] || { echo "the help speaks of optional numbers twice"; status=1; }
grep -q 'по умолчанию *равны 0' <<<"$optional" || { echo "the text on optional numbers gives no default of 0"; status=1; }

# Rows of integer attributes whose default is 0: "| `A`, `B` | integer | 0 ... |".
names=$(grep -E '^\| `[^|]*\| integer \| 0( |\|)' "$tables" | cut -d'|' -f2 | grep -o '`[A-Za-z0-9]*`' | sort -u)
[[ -n $names ]] || { echo "no attribute with a default of 0 in $tables"; exit 1; }
for name in $names; do
  if grep -qF "$name" <<<"$optional"; then
    echo "ok: $name"
  else
    echo "the help's text on optional numbers leaves out $name"
    status=1
  fi
done

# No sentence that refuses a missing or unreadable number outright.
if grep -Eiq 'отсутствующее или нечитаемое числовое поле *считается некорректным' <<<"$paragraphs"; then
  echo "the help says that a missing number is refused"
  status=1
fi
exit $status
