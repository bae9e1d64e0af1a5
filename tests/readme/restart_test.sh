#!/usr/bin/env bash
# scripts/start-qovixd as the main job runs it, three times in a row on one
# port: each start stops the qovixd before it and returns only once the new
# one listens (never on the old one's log), and the repository stays.
#
#   restart_test.sh SOURCE_DIR QOVIXD QOVIX
set -euo pipefail
source_dir=$1 qovixd=$2 qovix=$3
work=$(mktemp -d)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
trap 'kill "$(cat "$work/qovixd-$port.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
  echo "${0##*/}: $*" >&2
  exit 1
}

for run in 1 2 3; do
  "$source_dir/scripts/start-qovixd" "$qovixd" "$work" "$port" >"$work/start.out" ||
    fail "start $run failed: $(cat "$work/start.out")"
  if ((run == 1)); then
    "$qovix" --port "$port" demo >/dev/null || fail "start 1: qovixd did not answer at once"
  else
    grep -q "Stopping the qovixd an earlier run started on port $port" "$work/start.out" ||
      fail "start $run did not stop the qovixd before it"
    classes=$("$qovix" --port "$port" ls Class) || fail "start $run: qovixd did not answer at once"
    [[ $(grep -c Class <<<"$classes") -eq 4 ]] || fail "start $run: the model is gone: $classes"
  fi
done
echo "three starts in a row, each answering at once, the model kept"
