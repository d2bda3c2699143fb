"""Helpers for the upload tests: a reference server that keeps its store in the test's tmp
directory, the engine set up against it, and readers for what arrived at /api/befund."""
import hashlib
import os
import re
import time

import pytest

from refserver import befund

FORM_NAMES = ["filename", "sha256", "captured_at", "file_mtime", "host", "win_user",
              "win_session", "file"]
BOUNDARY_RE = re.compile(r"^multipart/form-data; boundary=(----norvessa[0-9a-f]{16})$")
ISO_RE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
SECRET = "s3cret"


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def iso_ms(ms: int) -> str:
    t = time.gmtime(ms // 1000)
    return time.strftime("%Y-%m-%dT%H:%M:%S", t) + ".%03dZ" % (ms % 1000)


def mtime_ms(path) -> int:
    # FILETIME has 100 ns ticks; the service reads whole milliseconds of it.
    return os.stat(path).st_mtime_ns // 1_000_000


def setup_engine(product, server, **import_keys):
    """service.ini against server (stable_ms 300 unless given) and the stored secret."""
    import_keys.setdefault("stable_ms", 300)
    product.default_ini(server=server, **import_keys)
    product.set_secret(SECRET)


def write_spool(product, name, data: bytes):
    """Leaves a file in the spool as an earlier run would have (state dirs made on start)."""
    product.spool.mkdir(parents=True, exist_ok=True)
    (product.spool / name).write_bytes(data)


def spool_names(product):
    if not product.spool.exists():
        return []
    return sorted(p.name for p in product.spool.iterdir())


def upload_requests(server):
    return server.requests_to("/api/befund")


def parse(request):
    """(boundary, parts) of a recorded upload, asserting the content type's form."""
    m = BOUNDARY_RE.match(request.header("Content-Type") or "")
    assert m, request.header("Content-Type")
    return m.group(1), befund.parse_multipart(request.body, m.group(1))


def expected_body(boundary, parts):
    """The byte layout of a form: delimiter, disposition, optional file header, content."""
    out = b""
    for p in parts:
        out += b"--" + boundary.encode() + b'\r\nContent-Disposition: form-data; name="'
        out += p.name.encode() + b'"'
        if p.filename is not None:
            out += b'; filename="' + p.filename.encode("utf-8")
            out += b'"\r\nContent-Type: application/octet-stream'
        out += b"\r\n\r\n" + p.value + b"\r\n"
    return out + b"--" + boundary.encode() + b"--\r\n"


def check_upload(request, source_name: str, data: bytes, mtime=None):
    """Asserts one upload carries the eight parts in order for this file; returns the form."""
    boundary, parts = parse(request)
    assert [p.name for p in parts] == FORM_NAMES
    assert request.body == expected_body(boundary, parts)
    form = {p.name: p for p in parts}
    assert form["filename"].value == source_name.encode("utf-8")
    assert form["filename"].filename is None
    assert form["sha256"].value == sha256(data).encode()
    assert ISO_RE.match(form["captured_at"].value.decode())
    assert ISO_RE.match(form["file_mtime"].value.decode())
    if mtime is not None:
        assert form["file_mtime"].value.decode() == iso_ms(mtime)
    assert form["host"].value != b""
    assert form["win_user"].value == b"SYSTEM"
    assert form["win_session"].value == b"0"
    assert form["file"].filename == source_name
    assert form["file"].content_type == "application/octet-stream"
    assert form["file"].value == data
    return form


def arrived(server):
    """{source name: [file bytes, ...]} of every upload the server stored or acknowledged."""
    out = {}
    for r in upload_requests(server):
        try:
            _, parts = parse(r)
        except Exception:
            continue
        form = {p.name: p for p in parts}
        out.setdefault(form["filename"].value.decode("utf-8"), []).append(form["file"].value)
    return out


def wait_until(predicate, timeout=30.0, what="condition"):
    deadline = time.time() + timeout
    while not predicate():
        if time.time() > deadline:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(0.05)


@pytest.fixture
def server(refserver, tmp_path):
    """The reference server with its upload store in the test's tmp directory."""
    refserver.store_dir = str(tmp_path / "store")
    os.makedirs(refserver.store_dir)
    return refserver
