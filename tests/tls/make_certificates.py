#!/usr/bin/env python3
"""Makes the certificates the TLS tests use, with GnuTLS's certtool, into a
folder:

    ca.pem ca-key.pem             the team's CA
    server.pem server-key.pem     qovixd, for localhost and 127.0.0.1
    alice.pem alice-key.pem       CN=alice,O=Modelling
    bob.pem bob-key.pem           CN=bob,O=Modelling
    web.pem web-key.pem           CN=qovix-web,O=Modelling (a web server)
    stranger.pem stranger-key.pem CN=stranger, signed by another CA
    expired.pem expired-key.pem   CN=late, valid until yesterday
    future.pem future-key.pem     CN=early, valid from tomorrow

    make_certificates.py FOLDER
"""

from __future__ import annotations

import datetime
import subprocess
import sys
from pathlib import Path


def certtool(*arguments: str) -> None:
    subprocess.run(["certtool", *arguments], check=True, capture_output=True)


def make(folder: Path, name: str, template: str, signer: str | None) -> None:
    key, certificate = folder / f"{name}-key.pem", folder / f"{name}.pem"
    (folder / f"{name}.template").write_text(template)
    certtool("--generate-privkey", "--key-type", "ecdsa", "--outfile", str(key))
    if signer is None:
        certtool("--generate-self-signed", "--load-privkey", str(key),
                 "--template", str(folder / f"{name}.template"), "--outfile", str(certificate))
    else:
        certtool("--generate-certificate", "--load-privkey", str(key),
                 "--load-ca-certificate", str(folder / f"{signer}.pem"),
                 "--load-ca-privkey", str(folder / f"{signer}-key.pem"),
                 "--template", str(folder / f"{name}.template"), "--outfile", str(certificate))


def when(days: int) -> str:
    moment = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


def main(folder: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    authority = "ca\ncert_signing_key\nexpiration_days = 30\n"
    client = "tls_www_client\nsigning_key\nexpiration_days = 30\n"
    make(folder, "ca", f'cn = "Modelling CA"\n{authority}', None)
    make(folder, "other-ca", f'cn = "Another CA"\n{authority}', None)
    make(folder, "server", 'cn = "localhost"\ndns_name = "localhost"\nip_address = "127.0.0.1"\n'
         "tls_www_server\nsigning_key\nencryption_key\nexpiration_days = 30\n", "ca")
    make(folder, "alice", f'cn = "alice"\norganization = "Modelling"\n{client}', "ca")
    make(folder, "bob", f'cn = "bob"\norganization = "Modelling"\n{client}', "ca")
    make(folder, "web", f'cn = "qovix-web"\norganization = "Modelling"\n{client}', "ca")
    make(folder, "stranger", f'cn = "stranger"\n{client}', "other-ca")
    make(folder, "expired", 'cn = "late"\ntls_www_client\nsigning_key\n'
         f'activation_date = "{when(-10)}"\nexpiration_date = "{when(-1)}"\n', "ca")
    make(folder, "future", 'cn = "early"\ntls_www_client\nsigning_key\n'
         f'activation_date = "{when(1)}"\nexpiration_date = "{when(10)}"\n', "ca")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
