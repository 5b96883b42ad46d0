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
# The daemon may take its name on the bus only after it has forked away: a test that asks before then would
# have the bus start a second keyring (which outlives the test and holds its output open). Wait for the name.
# shellcheck disable=SC2016
dbus-run-session -- bash -c '
  echo -n pw | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null || exit 1
  for _ in $(seq 600); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"; then
      exec "$@"
    fi
    sleep 0.1
  done
  echo "with-keyring: the keyring did not take org.freedesktop.secrets on the bus within 60 s" >&2
  exit 1' with-keyring "$@" || RC=$?
rm -rf "$SCRATCH"
exit $RC
