#!/usr/bin/env bash
# Fails when a source in a core or program folder without windows includes a Qt header.
# Qt lives only in ui/, app/ and tests/ui/.
set -u
root=${1:-.}
cd "$root" || exit 2
hits=$(find tools config formats query filemanager export koord cli demo -type f \( -name '*.cpp' -o -name '*.h' \) \
        2>/dev/null | xargs -r grep -nE '#\s*include\s*[<"]Q' || true)
if [ -n "$hits" ]; then
  echo "Core sources include Qt headers:"; echo "$hits"; exit 1
fi
echo "core is free of Qt"
