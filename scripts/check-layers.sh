#!/usr/bin/env bash
# Fails, naming each offending include, when a folder of src/ includes a folder
# at its own level or above (see docs/architecture.md, "Layers"), when a file
# outside gui/ that is not a *_win.cpp/*_win.h half includes <windows.h>, or
# when one front end includes the other.
set -euo pipefail
cd "$(dirname "$0")/../src"

# A folder may include only folders of a lower level (and itself).
declare -A level=([base]=0 [domain]=0 [files]=1 [sqlserver]=2 [engine]=2
                  [settings]=3 [accounts]=3 [service]=3 [app]=3
                  [ui]=4 [machine]=5 [cli]=6 [gui]=6)
# Includes allowed within a level.
allowed_sideways=" engine>sqlserver "

failed=0
fail() { echo "check-layers: $1" >&2; failed=1; }

while IFS=: read -r file line text; do
  from=${file%%/*}
  to=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
  [[ $from == "$to" ]] && continue
  if [[ -z ${level[$from]+x} || -z ${level[$to]+x} ]]; then
    fail "$file:$line: folder without a layer: $text"
  elif ((level[$to] >= level[$from])) && [[ $allowed_sideways != *" $from>$to "* ]]; then
    fail "$file:$line: $from/ may not include $to/: $text"
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' --include='*.h' \
           --include='*.cpp' .  | sed 's#^\./##')

while IFS=: read -r file line text; do
  # The ODBC handle owner needs the Windows types under sql.h.
  case $file in gui/* | *_win.cpp | *_win.h | sqlserver/odbc_handle.h) ;; *) fail "$file:$line: <windows.h> outside gui/ and *_win files: $text" ;; esac
done < <(grep -rniE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<windows\.h>' --include='*.h' \
           --include='*.cpp' . | sed 's#^\./##')

exit $failed
