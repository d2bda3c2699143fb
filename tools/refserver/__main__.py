"""Runs the reference server from the command line for the demo and the benchmark.

    PYTHONPATH=tools python3 -m refserver --port 0 --client ID:SECRET [--cert C --key K]
                                          [--expires-in N|none]

The first line on standard output is the bound base URL; the server runs until SIGINT or SIGTERM.
"""
import argparse
import signal
import sys
import threading

from .core import TOKEN_PATH, RefServer


def main(argv=None):
    ap = argparse.ArgumentParser(prog="refserver")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--client", action="append", default=[], metavar="ID:SECRET")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--expires-in", default="300", help="seconds, or 'none' to leave it out")
    args = ap.parse_args(argv)
    clients = {}
    for c in args.client or ["demo-client:demo-secret"]:
        cid, sep, secret = c.partition(":")
        if not sep:
            ap.error(f"--client {c!r}: expected ID:SECRET")
        clients[cid] = secret
    expires = None if args.expires_in.lower() == "none" else int(args.expires_in)
    if bool(args.cert) != bool(args.key):
        ap.error("--cert and --key go together")
    server = RefServer(clients=clients, expires_in=expires, certfile=args.cert, keyfile=args.key)
    server.start(port=args.port, host=args.host)
    print(server.base_url(args.host), flush=True)
    print(f"token endpoint: {server.base_url(args.host)}{TOKEN_PATH}", file=sys.stderr, flush=True)
    done = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        signal.signal(sig, lambda *_: done.set())
    done.wait()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
