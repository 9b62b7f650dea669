#!/usr/bin/env bash
# Fails when a source of the core target includes a Qt header.
# Window classes (*Frm.*, MainUnit.*), app/ and tests/ui/ belong to the Qt side.
set -u
root=${1:-.}
cd "$root" || exit 2
hits=$(find tools config formats query filemanager export cli demo -type f \( -name '*.cpp' -o -name '*.h' \) \
        ! -name '*Frm.*' ! -name 'MainUnit.*' 2>/dev/null | xargs -r grep -nE '#\s*include\s*[<"]Q' || true)
if [ -n "$hits" ]; then
  echo "Core sources include Qt headers:"; echo "$hits"; exit 1
fi
echo "core is free of Qt"
