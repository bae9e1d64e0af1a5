#!/usr/bin/env bash
# The installed tree as a user meets it. Installs the build into a new
# prefix and checks what is there; then, against the installed qovixd
# started without --library (it must find its library from the prefix), runs
# the installed qovix, a client built outside the tree with find_package(Qovix)
# and again with pkg-config, and a C client that rpcgen makes from the
# installed qovix.x.
#
#   install_test.sh BUILD_DIR   (BINDIR, LIBDIR, INCLUDEDIR, MANDIR, DATADIR,
#                                MAN_PAGES, CC and CXX from the environment)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v rpcgen >/dev/null || { echo "rpcgen is missing (Debian: rpcsvc-proto)"; exit 77; }
source "$here/serve.sh"
build=$1
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

for file in "$BINDIR/qovixd" "$BINDIR/qovix" \
    "$LIBDIR/qovix/libQOVIX_os.so" "$LIBDIR/qovix/libQOVIX_srv.so" "$LIBDIR/qovix/libVORN_os.so" \
    "$LIBDIR/qovix/libWKM_os.so" "$LIBDIR/qovix/libWKM_srv.so" \
    "$LIBDIR/libqovix-client.so" "$INCLUDEDIR/qovix/client_model.h" \
    "$INCLUDEDIR/qovix/client/connection.h" "$INCLUDEDIR/qovix/qovix.x" \
    "$LIBDIR/cmake/Qovix/QovixConfig.cmake" "$LIBDIR/pkgconfig/qovix-client.pc" \
    "$DATADIR/doc/qovix/protocol-reference.md" "$DATADIR/doc/qovix/store.md" \
    lib/systemd/system/qovixd.service "lib/systemd/system/qovixd@.service"; do
  [[ -e $prefix/$file ]] || fail "cmake --install did not install $file"
done
for unit in qovixd.service qovixd@.service; do
  grep -qx "ExecStart=$prefix/$BINDIR/qovixd .*" "$prefix/lib/systemd/system/$unit" ||
    fail "$unit does not start the installed qovixd"
done

# The man pages say what --help says: every option, and the version.
for program in $( ((MAN_PAGES)) && echo qovixd qovix); do
  [[ -f $prefix/$MANDIR/man1/$program.1.gz ]] || fail "cmake --install did not install $program.1"
  page=$(gzip -dc "$prefix/$MANDIR/man1/$program.1.gz" | sed 's/\\-/-/g')
  for option in $("$prefix/$BINDIR/$program" --help | grep -o -- '--[a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$page" || fail "the man page of $program leaves out $option"
  done
  version=$("$prefix/$BINDIR/$program" --version)
  grep -q "${version#* }" <<<"$page" || fail "the man page of $program is not of $version"
done

start_qovixd "$prefix/$BINDIR/qovixd"
"$prefix/$BINDIR/qovix" --port "$qovixd_port" demo >"$work/demo.txt" ||
  fail "the installed qovix could not run the demo"
grep -q "Class Account" "$work/demo.txt" || fail "the installed qovix's demo built no model"

# find_package(Qovix), as a user's CMake project does.
cmake -S "$here/client" -B "$work/find_package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$CXX" >"$work/find_package.log" 2>&1 ||
  { cat "$work/find_package.log" >&2; fail "find_package(Qovix) failed"; }
cmake --build "$work/find_package" >>"$work/find_package.log" 2>&1 ||
  { cat "$work/find_package.log" >&2; fail "the find_package client did not build"; }
"$work/find_package/outside_client" 127.0.0.1 "$qovixd_port"

# pkg-config, as a Makefile does.
export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig
# shellcheck disable=SC2046 # pkg-config's flags are words
"$CXX" -std=c++17 -Wall -Wextra -Werror "$here/client/outside_client.cpp" -o "$work/pkg_config_client" \
  $(pkg-config --cflags --libs qovix-client) -Wl,-rpath,"$prefix/$LIBDIR"
"$work/pkg_config_client" 127.0.0.1 "$qovixd_port"

# rpcgen on the installed protocol file, and a C client of libtirpc.
mkdir "$work/rpcgen"
cd "$work/rpcgen"
cp "$(pkg-config --variable=protocolfile qovix-client)" qovix.x
rpcgen -h -o qovix.h qovix.x
rpcgen -c -o qovix_xdr.c qovix.x
rpcgen -l -o qovix_clnt.c qovix.x
# shellcheck disable=SC2046
"$CC" -std=c11 -Wall -Wextra -Werror -I. $(pkg-config --cflags libtirpc) -c "$here/rpcgen_client.c"
# rpcgen's own C is not ours to hold to our warnings.
# shellcheck disable=SC2046
"$CC" -w -I. $(pkg-config --cflags libtirpc) rpcgen_client.o qovix_xdr.c qovix_clnt.c \
  $(pkg-config --libs libtirpc) -o rpcgen_client
./rpcgen_client 127.0.0.1 "$qovixd_port"
