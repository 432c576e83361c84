#!/bin/sh
# Writes the node reference (docs/nodes.md) from the node types' own parameter
# tables, as `kolv nodes TYPE` prints them.
# Usage: tools/make-node-reference.sh [BUILD_DIR] > docs/nodes.md
set -eu
KOLV=${1:-build}/kolv
echo "# Node reference"
echo
echo "Every node type kolv knows, with its ports and parameters, as \`kolv nodes TYPE\`"
echo "prints them (made by \`tools/make-node-reference.sh\`; do not edit by hand)."
"$KOLV" nodes | cut -d' ' -f1 | while read -r type; do
  echo
  echo "## $type"
  echo
  "$KOLV" nodes "$type" | head -n 1 | sed 's/^[^ ]*  (\(.*\))$/\1/; s/^./\u&/'
  echo
  echo '```'
  "$KOLV" nodes "$type" | tail -n +2
  echo '```'
done
