"""Helpers for the capture-engine tests: an engine configuration whose server is a closed
loopback port (so any drain defers at once and spool files stay), and readers for the
spool, the ledger and the "captured" log lines."""
import hashlib
import os
import re
import socket
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / os.environ.get("BUILD_DIR", "build")
HOLDOPEN = BUILD / "holdopen.exe"

SPOOL_NAME = re.compile(r"^(\d{13})_(\d{13})_(\d{4})_(.*)$")
CAPTURED = re.compile(r"captured (.*) size=(\d+) sha256=([0-9a-f]{64})\r\n")
ISO = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z$")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def engine_ini(product, import_dir=None, **import_keys):
    port = closed_port()
    keys = {"dir": product.wine.winpath(import_dir or product.import_dir), "stable_ms": 300}
    keys.update(import_keys)
    product.write_ini({
        "server": {"url": f"http://127.0.0.1:{port}", "token_url": f"http://127.0.0.1:{port}/token",
                   "client_id": "praxis-test"},
        "import": keys,
    })


def start_engine(product, wait_watch=True, **import_keys):
    """Stores a secret, writes the ini and starts --console; waits for the watch by default."""
    if not getattr(product, "engine_secret_set", False):
        product.set_secret("x")
        product.engine_secret_set = True
    engine_ini(product, **import_keys)
    c = product.start_console()
    if wait_watch:
        c.wait_log("watching import dir", count=log_count(product, "watching import dir") + 1)
    return c


def log_count(product, text):
    return product.log_text().count(text)


def captures(product):
    """(name, size, sha256) of every "captured" log line, in log order."""
    return [(m.group(1), int(m.group(2)), m.group(3)) for m in CAPTURED.finditer(product.log_text())]


def captured_names(product):
    return [c[0] for c in captures(product)]


def spool_files(product):
    if not product.spool.exists():
        return []
    return sorted(p.name for p in product.spool.iterdir() if not p.name.endswith(".tmp"))


def ledger_rows(product):
    if not product.ledger.exists():
        return []
    data = product.ledger.read_bytes()
    assert b"\r" not in data
    return [line.split("\t") for line in data.decode("utf-8").split("\n") if line]


def mtime_ms(path):
    return os.stat(path).st_mtime_ns // 1_000_000


def sha256(data: bytes):
    return hashlib.sha256(data).hexdigest()


def wait_for(predicate, timeout=20.0, what="condition"):
    deadline = time.time() + timeout
    while not predicate():
        if time.time() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def stop_cleanly(console):
    assert console.stop() == 0
    lines = console.product.log_text().splitlines()
    assert lines[-1].endswith("service stopped"), lines[-3:]
