#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the session bus's activation file: the
# bus starts the program for a hand-off call by this file's name and command.
set -euo pipefail
build="$1" app_id="$2" program="$3"
stage=$(mktemp -d "${TMPDIR:-/tmp}/fv-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" >/dev/null
file=$(find "$stage" -path "*/dbus-1/services/$app_id.service")
[ -n "$file" ] || { echo "no $app_id.service installed"; exit 1; }
expected=$(printf '[D-BUS Service]\nName=%s\nExec=%s' "$app_id" "$program")
[ "$(cat "$file")" = "$expected" ] || { echo "unexpected $file:"; cat "$file"; exit 1; }
case "$program" in /*) ;; *) echo "Exec is not absolute: $program"; exit 1 ;; esac
