"""Test certificates made with the `openssl` tool at test time.

make_pki(dir, host) writes a test CA (ca.pem, ca.der for the Wine side) and
four server certificates with their keys:
  good        for `host`, from the test CA, valid now
  expired     for `host`, from the test CA, validity ended yesterday
  other-name  for another name, from the test CA
  unknown-ca  for `host`, from a second CA that nobody trusts
Nothing is installed anywhere: the test adds ca.der to its own Wine prefix.
"""

import os
import subprocess

LEAF_EXT = ("basicConstraints=critical,CA:FALSE\n"
            "keyUsage=critical,digitalSignature,keyEncipherment\n"
            "extendedKeyUsage=serverAuth\n"
            "subjectAltName=DNS:%s\n")

OPENSSL_CA_CONF = """[ca]
default_ca = test_ca
[test_ca]
dir = %(dir)s
database = %(dir)s/index.txt
new_certs_dir = %(dir)s
serial = %(dir)s/serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
"""


def _run(args, cwd):
    subprocess.run(["openssl"] + args, cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _ca(d, name, cn):
    _run(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
          "-keyout", name + ".key", "-out", name + ".pem", "-days", "30",
          "-subj", "/CN=" + cn,
          "-addext", "basicConstraints=critical,CA:TRUE",
          "-addext", "keyUsage=critical,keyCertSign,cRLSign"], d)


def _csr(d, name, cn):
    _run(["req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
          "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + cn], d)


def _ext(d, name, dns):
    path = os.path.join(d, name + ".ext")
    with open(path, "w") as f:
        f.write(LEAF_EXT % dns)
    return name + ".ext"


def _sign(d, name, ca, dns):
    _run(["x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
          "-CAcreateserial", "-out", name + ".pem", "-days", "30", "-sha256",
          "-extfile", _ext(d, name, dns)], d)


def _sign_expired(d, name, ca, dns):
    # `openssl ca` is the tool's way to give a validity in the past.
    db = os.path.join(d, "cadb")
    os.makedirs(db, exist_ok=True)
    open(os.path.join(db, "index.txt"), "w").close()
    with open(os.path.join(db, "serial"), "w") as f:
        f.write("1000\n")
    conf = os.path.join(d, "ca.conf")
    with open(conf, "w") as f:
        f.write(OPENSSL_CA_CONF % {"dir": db})
    _run(["ca", "-batch", "-config", conf, "-cert", ca + ".pem", "-keyfile", ca + ".key",
          "-in", name + ".csr", "-out", name + ".pem", "-notext",
          "-startdate", "20200101000000Z", "-enddate", "20200102000000Z",
          "-extfile", _ext(d, name, dns)], d)


def make_pki(d, host):
    os.makedirs(d, exist_ok=True)
    _ca(d, "ca", "Tessarine Test CA")
    _run(["x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der"], d)
    _ca(d, "stranger-ca", "Unknown Test CA")
    for name, cn in (("good", host), ("expired", host), ("other-name", "other." + host),
                     ("unknown-ca", host)):
        _csr(d, name, cn)
    _sign(d, "good", "ca", host)
    _sign_expired(d, "expired", "ca", host)
    _sign(d, "other-name", "ca", "other." + host)
    _sign(d, "unknown-ca", "stranger-ca", host)
    return {name: (os.path.join(d, name + ".pem"), os.path.join(d, name + ".key"))
            for name in ("good", "expired", "other-name", "unknown-ca")}
