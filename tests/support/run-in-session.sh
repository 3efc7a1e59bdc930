#!/usr/bin/env bash
# Runs a command the way the main program's tests need it: a virtual display, a private session
# bus and home folders of its own. The environment is set before the bus starts, because a
# program the bus starts gets the bus's environment, not the caller's.
set -euo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/fv-session.XXXXXX")
# A page process of the browser may still be writing its caches while the folder goes: try again
# a few times, and never let the clean-up change the command's result.
cleanup() {
  local status=$?
  for _ in 1 2 3 4 5; do
    rm -rf "$scratch" 2>/dev/null && break
    sleep 0.5
  done
  exit "$status"
}
trap cleanup EXIT
mkdir -p "$scratch/home" "$scratch/data" "$scratch/config" "$scratch/cache" "$scratch/runtime"
chmod 0700 "$scratch/runtime"
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1
export HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
  XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
# Windows go to the virtual display only, never to a desktop the tests were started from.
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11
unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY
# Not exec: the trap removes the folders when the command ends.
# A random first display number keeps parallel tests from racing for the same one.
xvfb-run -a -n $((100 + RANDOM % 30000)) dbus-run-session -- "$@"
