"""FTP servers for the delivery tests, all in one process on free loopback ports.

Usage: ftp_test_servers.py ROOT USER PASSWORD CERT_DIR

Serves ROOT to USER with PASSWORD as "plain" (FTP), "tls" (explicit TLS required, with a
self-signed certificate for 127.0.0.1 written to CERT_DIR/cert.pem) and "unconfirmed" (takes
an upload, then never confirms it with 226). Prints "NAME PORT" per server, then "ready".
Ends when its standard input closes, so that it never outlives the test that started it.
"""

import logging
import os
import subprocess
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer


class UnconfirmedUploads(FTPHandler):
    """Stores what it is sent but keeps silent about the end of every transfer."""

    def respond(self, resp, *args, **kwargs):
        if not resp.startswith("226"):
            super().respond(resp, *args, **kwargs)


class EarlyTlsData(TLS_DTPHandler):
    """Lets the client finish the data connection's handshake before it names the transfer
    (pyftpdlib otherwise drops a data connection that is readable that early)."""

    def readable(self):
        return self._ssl_accepting or super().readable()


def self_signed_certificate(directory):
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
         "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def handler(base, root, user, password, **attributes):
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmw")
    # A refused login is answered at once: the tests wait for nothing else.
    return type(base.__name__, (base,),
                dict(authorizer=authorizer, auth_failed_timeout=0.05, **attributes))


def main():
    root, user, password, cert_dir = sys.argv[1:5]
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    cert, key = self_signed_certificate(cert_dir)
    handlers = {
        "plain": handler(FTPHandler, root, user, password),
        "tls": handler(TLS_FTPHandler, root, user, password, certfile=cert, keyfile=key,
                       dtp_handler=EarlyTlsData,
                       tls_control_required=True, tls_data_required=True),
        "unconfirmed": handler(UnconfirmedUploads, root, user, password),
    }
    for name, handler_class in handlers.items():
        server = FTPServer(("127.0.0.1", 0), handler_class)
        sys.stdout.write(f"{name} {server.address[1]}\n")
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    IOLoop.instance().loop()


if __name__ == "__main__":
    main()
