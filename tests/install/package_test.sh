#!/usr/bin/env bash
# The Debian package, made by cpack from this build. Its file list must hold
# everything an install does; its unit must run qovixd as its own user, on
# loopback, restarting on failure, with its data under /var/lib/qovix; and
# the programs unpacked from it must serve and answer from where they lie.
#
#   package_test.sh BUILD_DIR   (LIBDIR and MAN_PAGES from the environment)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is missing: not a Debian system"; exit 77; }
source "$here/serve.sh"
build=$1
# As the README says to run it, from a folder that must stay as it was.
mkdir "$work/cwd"
rm -f "$build"/packages/qovix_*.deb
(cd "$work/cwd" && cpack -G DEB --config "$build/CPackConfig.cmake") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack did not make the package"; }
[[ -z $(ls -A "$work/cwd") ]] || fail "cpack left $(ls -A "$work/cwd") where it was run"
deb=$(echo "$build"/packages/qovix_*.deb)
[[ -f $deb ]] || fail "cpack made no qovix_*.deb in $build/packages"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for file in ./usr/bin/qovixd ./usr/bin/qovix ./usr/bin/qovix-store "./usr/$LIBDIR/qovix/libQOVIX_os.so" \
    "./usr/$LIBDIR/qovix/libWKM_srv.so" "./usr/$LIBDIR/libqovix-client.so" \
    ./usr/include/qovix/client_model.h ./usr/include/qovix/qovix.x \
    "./usr/$LIBDIR/cmake/Qovix/QovixConfig.cmake" "./usr/$LIBDIR/pkgconfig/qovix-client.pc" \
    ./usr/share/doc/qovix/protocol-reference.md ./usr/lib/systemd/system/qovixd.service \
    "./usr/lib/systemd/system/qovixd@.service"; do
  grep -qx -- "$file" "$work/files" || fail "the package does not hold $file"
done
for page in $( ((MAN_PAGES)) && echo qovixd qovix qovix-store); do
  grep -qx -- "./usr/share/man/man1/$page.1.gz" "$work/files" ||
    fail "the package does not hold the man page of $page"
done
dpkg-deb -f "$deb" Depends | grep -q 'libtirpc3' || fail "the package does not depend on libtirpc3"

dpkg-deb -x "$deb" "$work/root"
unit=$work/root/usr/lib/systemd/system/qovixd.service
for line in 'ExecStart=/usr/bin/qovixd --bind 127.0.0.1 --store /var/lib/qovix/repository.sqlite3 --documents /var/lib/qovix/documents $QOVIXD_OPTIONS' \
    'DynamicUser=yes' 'User=qovix' 'StateDirectory=qovix qovix/documents' \
    'Restart=on-failure' 'KillSignal=SIGTERM' 'WantedBy=multi-user.target'; do
  grep -qxF -- "$line" "$unit" || fail "the unit lacks '$line'"
done
grep -q "prefix=/usr$" "$work/root/usr/$LIBDIR/pkgconfig/qovix-client.pc" ||
  fail "the package's pkg-config file does not name /usr"

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [[ -x $work/control/$script ]] || fail "the package has no $script"
  sh -n "$work/control/$script" || fail "the package's $script is not a shell script"
done

start_qovixd "$work/root/usr/bin/qovixd"
repository=$("$work/root/usr/bin/qovix" --port "$qovixd_port" repository)
[[ $repository =~ ^[1-9][0-9]*$ ]] || fail "the unpacked qovix answered '$repository'"
"$work/root/usr/bin/qovix-store" --help | grep -q '^Usage: qovix-store' ||
  fail "the unpacked qovix-store does not run"
# SIGTERM, as systemd stops it: a clean stop, exit status 0.
kill -TERM "$qovixd_pid"
status=0
wait "$qovixd_pid" || status=$?
qovixd_pid=
((status == 0)) || fail "qovixd ended with status $status on SIGTERM"
