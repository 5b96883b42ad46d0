#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, build) and starts Quorvelle.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
quorvelle_install_packages
quorvelle_build default
exec "$ROOT/build/default/app/quorvelle" "$@"
