#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs COMMAND [ARGS...] on a virtual display of its own (Xvfb), for a test that needs a window.
# Exit status 77: skipped, without Xvfb.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/player-display.sh"
for tool in Xvfb xdpyinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (PICTURE_PACKAGES in scripts/lib/ensure-packages.sh)"
    exit 77
  fi
done
trap player_display_stop EXIT
player_display_start 640x480
"$@"
