#!/usr/bin/env bash
# Fails when the shipped library exports a symbol of ours beyond its public classes.
set -euo pipefail
lib="$1"
allowed='fv_transfers::(CFvTransfersGlobalConfig|ProxyConfig|CFvTransfersInitializer|os_safe_filenames::|CSleepPreventerCounterProxy|CZendeskRequestCreator|CBucket|CTransferManagerBase|CUploadManager|CDownloadManager)'
ours=$(nm -D --defined-only -C "$lib" | sed -E 's/^[0-9a-f]+ [A-Za-z] //' | grep 'fv_transfers' || true)
bad=$(printf '%s\n' "$ours" | grep -v -E "^(typeinfo (name )?for |vtable for |VTT for )?${allowed}" | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "Internal symbols exported by $lib:"
  printf '%s\n' "$bad"
  exit 1
fi
count=$(printf '%s\n' "$ours" | grep -c . || true)
echo "exports: $count public symbols"
[ "$count" -gt 0 ]
