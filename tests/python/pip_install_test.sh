#!/usr/bin/env bash
# `pip install client/python` as a user runs it: into a new virtual
# environment, with no package index (the package needs nothing but the
# standard library), then a ten-line script builds and reads a model on a
# live qovixd.
#
#   pip_install_test.sh QOVIXD PYTHON SOURCE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../install/serve.sh"
qovixd=$1 python=$2 source=$3
"$python" -m venv "$work/venv" >"$work/venv.log" 2>&1 ||
  { cat "$work/venv.log"; echo "no venv module (Debian: python3-venv)"; exit 77; }
"$work/venv/bin/pip" install --quiet --no-index "$source/client/python" >"$work/pip.log" 2>&1 ||
  { cat "$work/pip.log" >&2; fail "pip install client/python failed"; }
start_qovixd "$qovixd"
cd "$work"  # so that nothing of the source tree is imported
out=$("$work/venv/bin/python" - "$qovixd_port" <<'PY'
import sys, qovix
with qovix.Repository.connect("127.0.0.1", int(sys.argv[1])) as repo:
    bank = repo.Package.create()
    bank.name = "Bank"
    for name in ("Account", "Customer"):
        repo.Class.create().construct(bank, name)
    account, = repo.Class.find(name="Account")
    account.isAbstract = True
    print(bank.name, sorted(e.name for e in bank.ownedElement), account.isAbstract)
PY
)
[[ $out == "Bank ['Account', 'Customer'] True" ]] || fail "the script printed: $out"
"$work/venv/bin/python" -c "import qovix; print(qovix.__file__)" | grep -q "^$work/venv/" ||
  fail "qovix was not imported from the virtual environment"
echo "pip install client/python: $out"
