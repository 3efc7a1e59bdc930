#!/usr/bin/env bash
# Fails when the shipped library exports a symbol of ours beyond its public classes.
set -euo pipefail
lib="$1"
allowed='fv_transfers::(CFvTransfersGlobalConfig|ProxyConfig|CFvTransfersInitializer|os_safe_filenames::|CSleepPreventerCounterProxy|CZendeskRequestCreator|CBucket|CTransferManagerBase|CUploadManager|CDownloadManager|redactSecrets\()'
ours=$(nm -D --defined-only -C "$lib" | sed -E 's/^[0-9a-f]+ [A-Za-z] //' | grep 'fv_transfers' || true)
# The standard library's templates instantiated over public records (a vector of group states)
# are exported with them; they pass when every name of ours they carry is public.
std_over_public() {
  while IFS= read -r line; do
    if [[ "$line" =~ ^([a-z_:\<\>\*\&\ ]+\ )?std:: ]] && ! sed -E "s/${allowed}//g" <<<"$line" | grep -q 'fv_transfers::'; then
      printf '%s\n' "$line"
    fi
  done
}
instances=$(printf '%s\n' "$ours" | std_over_public)
bad=$(printf '%s\n' "$ours" | grep -v -E "^(typeinfo (name )?for |vtable for |VTT for )?${allowed}" \
  | grep -v -F -x -f <(printf '%s\n' "$instances") | grep -v '^$' || true)
if [ -n "$bad" ]; then
  echo "Internal symbols exported by $lib:"
  printf '%s\n' "$bad"
  exit 1
fi
count=$(printf '%s\n' "$ours" | grep -c . || true)
echo "exports: $count public symbols"
[ "$count" -gt 0 ]
