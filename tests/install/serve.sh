# Sourced by the install and package tests: a qovixd of theirs as a child on
# a free loopback port, stopped (by its pid) and cleaned up when the test
# ends.
#   start_qovixd PATH_TO_QOVIXD   sets qovixd_port
work=$(mktemp -d)
qovixd_pid=
stop_qovixd() {
  if [[ -n $qovixd_pid ]]; then
    kill "$qovixd_pid" 2>/dev/null || true
    wait "$qovixd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_qovixd EXIT

fail() {
  echo "${0##*/}: $*" >&2
  exit 1
}

start_qovixd() {
  # The log is there before the server starts: the child opens it itself,
  # maybe only after the first look below.
  : >"$work/qovixd.log"
  "$1" --bind 127.0.0.1 --port 0 --store "$work/repository.sqlite3" >"$work/qovixd.log" 2>&1 &
  qovixd_pid=$!
  for _ in $(seq 100); do
    qovixd_port=$(sed -n 's/^qovixd listening on 127.0.0.1:\([0-9]*\) .*/\1/p' "$work/qovixd.log")
    [[ -n $qovixd_port ]] && return 0
    kill -0 "$qovixd_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/qovixd.log" >&2
  fail "$1 did not start"
}
