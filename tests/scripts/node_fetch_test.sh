#!/usr/bin/env bash
# scripts/node-for-windows.sh with no npm registry to reach (a closed port,
# an empty npm cache, an empty download folder): it must fail, naming the
# package and the registry, rather than leave a node.exe folder behind.
#   node_fetch_test.sh scripts/node-for-windows.sh
set -u
script=${1:?usage: node_fetch_test.sh path/to/node-for-windows.sh}
command -v npm >/dev/null || { echo "node_fetch_test: npm is missing"; exit 1; }
work=$(mktemp -d /tmp/kestrine-node-fetch.XXXXXX)
trap 'rm -rf "$work"' EXIT
out=$(KESTRINE_NODE_DIR=$work/node npm_config_cache=$work/cache npm_config_registry=http://127.0.0.1:9/ \
      npm_config_fetch_retries=0 "$script" x86 2>&1)
rc=$?
failed=0
[ "$rc" = 1 ] || { echo "FAIL exit code $rc, not 1"; failed=1; }
grep -q 'could not fetch node-win-x86@22.23.2 from the npm registry (http://127.0.0.1:9/)' <<<"$out" ||
    { echo "FAIL no message naming the package and the registry"; failed=1; }
[ ! -e "$work/node/win-x86" ] || { echo "FAIL a win-x86 folder was left behind"; failed=1; }
echo "$out"
exit "$failed"
