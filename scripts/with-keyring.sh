#!/usr/bin/env bash
# Runs a command on a D-Bus session bus of its own with a gnome-keyring whose login collection is
# created and unlocked (password "pw"), in a throw-away HOME, so that tests exercise a real Secret
# Service without touching the user's keyring. The environment is exported before the bus starts:
# services the bus activates inherit the bus's environment.
set -uo pipefail
# Listing the tests needs no keyring.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done
SCRATCH="$(mktemp -d)"
export HOME="$SCRATCH/home" XDG_DATA_HOME="$SCRATCH/home/.local/share" XDG_RUNTIME_DIR="$SCRATCH/runtime"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
RC=0
dbus-run-session -- bash -c 'echo -n pw | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null && exec "$@"' \
  with-keyring "$@" || RC=$?
rm -rf "$SCRATCH"
exit $RC
