#!/usr/bin/env bash
# Fails when a product file includes from a higher layer. The layers, lowest first:
#   core/         settings and their rules, the log core, text conversion
#   transcribe/   chunk jobs and workers, MP3 encoder, server client
#   audio/        conditioning, packet processing, chunk cutting (hands chunks to transcribe/)
#   app/          the window, the pane, the level bar, WinMain
# A folder may include from itself and from the folders above it in this list, and from
# nothing else of the project. Code outside a win/ folder never includes from one: it
# has to build on every system.
#   scripts/check-layers.sh [ROOT]      ROOT defaults to the project's root
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
layers="core transcribe audio app"

# shellcheck disable=SC2086
grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' $layers --include='*.h' --include='*.cpp' |
awk -v layers="$layers" '
  BEGIN { n = split(layers, names, " "); for (i = 1; i <= n; i++) rank[names[i]] = i }
  {
    split($0, parts, ":"); file = parts[1]
    target = $0; sub(/^[^"]*"/, "", target); sub(/".*$/, "", target)
    from = substr(file, 1, index(file, "/") - 1)
    to = index(target, "/") ? substr(target, 1, index(target, "/") - 1) : ""
    why = ""
    if (to != "" && !(to in rank)) why = "includes from outside the product'"'"'s layers"
    else if (to != "" && rank[to] > rank[from]) why = "includes from a higher layer"
    else if (target ~ /(^|\/)win\// && file !~ /(^|\/)win\//) why = "portable code includes Windows code"
    if (why != "") { print "layering: " file ": " why ": " target > "/dev/stderr"; bad = 1 }
  }
  END {
    if (bad) exit 1
    print "layering: every include goes down or sideways within its layer"
  }'
