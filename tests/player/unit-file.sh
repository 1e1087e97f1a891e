#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The unit template multinet-player@.service: systemd-analyze verify has nothing to say of it (it passes a
# unit with an unknown key or a value out of range, and only says so, so any word it says fails), with
# the player's path that installing writes in it being this build's player. Then the sysusers.d file
# makes the unit's user, in its groups, in a scratch root. Skipped without systemd-analyze (Debian's
# systemd package), which needs no running systemd.
# usage: unit-file.sh UNIT_TEMPLATE SYSUSERS PLAYER
set -euo pipefail

unit=$1 sysusers=$2 player=$3

fail() {
  echo "FAIL: $*"
  exit 1
}

for tool in systemd-analyze systemd-sysusers; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool here (Debian's systemd package provides it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

grep -q -x 'ExecStart=@MULTINET_PLAYER@ --config /etc/multinet-player/%i.conf' "$unit" ||
  fail "the unit does not run the player on /etc/multinet-player/%i.conf"
sed "s#@MULTINET_PLAYER@#$player#" "$unit" >"$work/multinet-player@.service"
said=$(systemd-analyze verify "$work/multinet-player@.service" 2>&1) || fail "systemd-analyze verify refused the unit: $said"
[ -z "$said" ] || fail "systemd-analyze verify has something to say of the unit: $said"

mkdir -p "$work/root/etc"
said=$(systemd-sysusers --root="$work/root" - <"$sysusers" 2>&1) || fail "systemd-sysusers refused $sysusers: $said"
user=$(sed -n 's/^User=//p' "$unit")
grep -q "^$user:" "$work/root/etc/passwd" || fail "no user $user"
read -ra groups <<<"$(sed -n 's/^SupplementaryGroups=//p' "$unit")"
for group in "${groups[@]}"; do
  grep -q -E "^$group:.*[:,]$user(,|$)" "$work/root/etc/group" || fail "$user is not in the group $group"
done
echo "PASS: the unit verifies, and its user $user is made in the groups it names"
