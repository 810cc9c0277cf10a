#!/bin/bash
# check_links.sh LIBRARY [LINKED...]: every lumo:: symbol that the static
# library LIBRARY leaves undefined must be defined by LIBRARY itself or by one
# of the libraries it links (LINKED). Names the symbols that are not.
set -euo pipefail
library=$1
shift
undefined=$(nm -C --undefined-only "$library" | sed -n 's/^ *U \(lumo::.*\)$/\1/p' | sort -u)
defined=$(nm -C --defined-only "$library" "$@" | sed -n 's/^[0-9a-f]* [A-Za-z] \(lumo::.*\)$/\1/p' | sort -u)
missing=$(comm -23 <(printf '%s\n' "$undefined") <(printf '%s\n' "$defined") | sed '/^$/d')
if [ -n "$missing" ]; then
  echo "$(basename "$library") uses symbols that no library it links defines:"
  printf '%s\n' "$missing" | sed 's/^/  /'
  exit 1
fi
