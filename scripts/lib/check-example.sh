#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks an installed TamoMultiNetControl as a host developer would use it:
#   scripts/lib/check-example.sh NAME [PREFIX]
# - with PREFIX (a `cmake --install --prefix PREFIX` tree): the tree holds the library with its SONAME,
#   the public, export and version headers, the CMake package, the .pc file and multinet-demo;
# - builds examples/minimal-host against it twice, with find_package and with pkg-config (its Makefile);
# - runs each build as a master (127.0.0.1) and a slave (127.0.0.2) on loopback: both must exit with
#   status 0, and the slave must have received a start command and a clock offset.
# Without PREFIX the library is looked for where the system keeps it (the .deb packages).
#   scripts/lib/check-example.sh --run PROGRAM
# only runs the master and slave session with a minimal-host built elsewhere (the Windows CI job).
# Work files and logs go to build/example-check/NAME/.
set -euo pipefail

if [ "${1:-}" = "--run" ]; then
  name=run
  program="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
else
  name="$1"
  prefix="${2:-}"
fi
cd "$(dirname "$0")/../.."
work="$PWD/build/example-check/$name"
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "check-example $name: FAILED: $*" >&2
  exit 1
}

# Runs a command with its output in $work/LOG; on failure the log is shown.
logged() {
  local log="$work/$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$* (log: $log)"
  fi
}

check_install_tree() {
  local lib soname
  lib=$(find "$prefix" -name 'libTamoMultiNetControl.so.*.*.*' -type f | head -n 1)
  [ -n "$lib" ] || fail "no libTamoMultiNetControl.so.X.Y.Z under $prefix"
  soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "libTamoMultiNetControl.so.3" ] || fail "SONAME of $lib is '$soname'"
  local wanted
  for wanted in include/TamoMultiNetControl/MultiNetControl.h \
                include/TamoMultiNetControl/tamomultinetcontrol_export.h \
                include/TamoMultiNetControl/tamomultinetcontrol_version.h \
                'lib*/cmake/TamoMultiNetControl/TamoMultiNetControlConfig.cmake' \
                'lib*/cmake/TamoMultiNetControl/TamoMultiNetControlConfigVersion.cmake' \
                'lib*/cmake/TamoMultiNetControl/TamoMultiNetControlTargets.cmake' \
                'lib*/pkgconfig/TamoMultiNetControl.pc' \
                'lib*/libTamoMultiNetControl.so' \
                bin/multinet-demo; do
    compgen -G "$prefix/$wanted" >/dev/null || fail "$prefix/$wanted is not installed"
  done
  logged demo-help.log "$prefix/bin/multinet-demo" --help
  echo "install tree: SONAME $soname, headers, CMake package, .pc file and multinet-demo in place"
}

build_with_cmake() {
  local args=(-S examples/minimal-host -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ -z "$prefix" ] || args+=(-DCMAKE_PREFIX_PATH="$prefix")
  logged cmake-configure.log cmake "${args[@]}"
  logged cmake-build.log cmake --build "$work/cmake-build"
}

build_with_pkg_config() {
  local pc_path=""
  if [ -n "$prefix" ]; then
    pc_path=$(dirname "$(compgen -G "$prefix/lib*/pkgconfig/TamoMultiNetControl.pc" | head -n 1)")
  fi
  mkdir -p "$work/pkgconfig-build"
  logged pkgconfig-build.log env PKG_CONFIG_PATH="$pc_path" \
    make -C "$work/pkgconfig-build" -f "$PWD/examples/minimal-host/Makefile" SRC="$PWD/examples/minimal-host"
}

# A master and a slave of one build on loopback, on a port of their own.
run_session() {
  local how="$1" program="$2"
  local port=$((20000 + RANDOM % 30000))
  local slave_log="$work/$how-slave.log" master_log="$work/$how-master.log"
  "$program" slave 127.0.0.2 127.0.0.1 "$port" >"$slave_log" 2>&1 &
  local slave_pid=$! key="" waited
  for waited in $(seq 100); do
    key=$(grep -a -o 'admit it on the master as [0-9._]*' "$slave_log" | awk '{print $NF}') || true
    [ -n "$key" ] && break
    kill -0 "$slave_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$key" ]; then
    kill "$slave_pid" 2>/dev/null || true
    cat "$slave_log" >&2
    fail "$how: the slave did not start"
  fi
  local master_status=0 slave_status=0
  "$program" master 127.0.0.1 "$key" "$port" >"$master_log" 2>&1 || master_status=$?
  [ "$master_status" -eq 0 ] || kill "$slave_pid" 2>/dev/null || true
  wait "$slave_pid" || slave_status=$?
  if [ "$master_status" -ne 0 ] || [ "$slave_status" -ne 0 ] \
     || ! grep -a -q 'start command received' "$slave_log" || ! grep -a -q 'clock offset received' "$slave_log"; then
    echo "--- master ($master_log), exit status $master_status" >&2
    cat -v "$master_log" >&2
    echo "--- slave ($slave_log), exit status $slave_status" >&2
    cat -v "$slave_log" >&2
    fail "$how: the slave did not receive both a start command and a clock offset"
  fi
  echo "$how build: $(grep -a -h 'clock offset received\|start command received' "$slave_log" | sed 's/^\[minimal-host\] //' | paste -sd ';' | sed 's/;/; /')"
}

if [ "$name" = run ]; then
  run_session minimal-host "$program"
  exit 0
fi
[ -z "$prefix" ] || check_install_tree
build_with_cmake
build_with_pkg_config
run_session find_package "$work/cmake-build/minimal-host"
run_session pkg-config "$work/pkgconfig-build/minimal-host"
echo "check-example $name: OK"
