#!/usr/bin/env bash
# Runs a command in a Wine session whose prefix reports Windows 10, on a copy
# of the project's prefix made once. A fresh Wine 8 prefix reports Windows 7,
# which Node.js 18 and later refuse to start on.
#   scripts/with-win10.sh wine build/node/win-x64/node.exe script.js
set -euo pipefail
exec "$(dirname "${BASH_SOURCE[0]}")/with-prefix-copy.sh" win10 wine winecfg -v win10 -- "$@"
