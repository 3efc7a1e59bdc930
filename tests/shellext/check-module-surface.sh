#!/usr/bin/env bash
# Fails unless the plug-in exports exactly the file manager's three entry points and neither
# needs GTK (the file manager runs another major version) nor a sanitizer runtime (the file
# manager is not instrumented).
set -euo pipefail
module="$1"
exports=$(nm -D --defined-only "$module" | awk '{print $3}' | sort)
expected=$(printf '%s\n' nautilus_module_initialize nautilus_module_list_types nautilus_module_shutdown)
if [ "$exports" != "$expected" ]; then
  echo "exports of $module:"
  printf '%s\n' "$exports"
  exit 1
fi
needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
loaded=$(ldd "$module" | awk '{print $1}')
bad=$(printf '%s\n%s\n' "$needed" "$loaded" | grep -E '^lib(gtk|gdk|asan|ubsan|tsan)' | sort -u || true)
if [ -n "$bad" ]; then
  echo "$module needs:"
  printf '%s\n' "$bad"
  exit 1
fi
echo "exports: $(echo $exports); needs: $(echo $needed)"
