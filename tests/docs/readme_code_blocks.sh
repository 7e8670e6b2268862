#!/bin/sh
# The README's code blocks are copied into shells and consoles as they stand.
# A Windows path once written through an escape-expanding writer lost its "\t"
# and "\r" to a tab and a line break; this check fails on any control
# character inside a fenced block (newlines apart) and on a line that ends in a
# bare drive ("C:"), which is what such a line break leaves behind.
#   readme_code_blocks.sh README.md docs/*.md
[ $# -gt 0 ] || { echo "usage: readme_code_blocks.sh README.md [docs/*.md ...]" >&2; exit 2; }
LC_ALL=C awk '
FNR == 1 { inside = 0 }
/^ *```/ { inside = !inside; next }
inside && /[\001-\011\013-\037\177]/ { print FILENAME ":" FNR ": control character in a code block: " $0; bad = 1 }
inside && /(^|[^A-Za-z0-9])[A-Za-z]:$/ { print FILENAME ":" FNR ": a path cut after its drive: " $0; bad = 1 }
END { exit bad }
' "$@"
