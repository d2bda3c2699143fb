"""The upload endpoint /api/befund: a strict multipart/form-data parser and a store by digest.

The parser accepts exactly the framing the service sends: "--B" CRLF, part headers, an empty
line, the content, CRLF, and after the last part "--B--" CRLF with nothing before or after.
Anything else is a malformed body (400).
"""
import hashlib
import os
import re
import secrets
import tempfile
import threading
from dataclasses import dataclass, field

_BOUNDARY_CHARS = re.compile(r"^[0-9A-Za-z'()+_,\-./:=? ]{1,70}$")
_DISPOSITION = re.compile(r'^form-data; name="([^"]*)"(?:; filename="([^"]*)")?$')
_state_lock = threading.Lock()


class MultipartError(ValueError):
    pass


@dataclass
class Part:
    name: str
    value: bytes
    filename: str = None        # None for a text part
    content_type: str = None
    headers: list = field(default_factory=list)


@dataclass
class Upload:
    """One upload as received: the boundary, the parts in order and the raw body."""
    boundary: str
    parts: list
    body: bytes
    authorization: str
    result: str = ""
    receipt_id: str = ""

    def names(self):
        return [p.name for p in self.parts]

    def field(self, name):
        for p in self.parts:
            if p.name == name:
                return p
        return None

    def text(self, name):
        p = self.field(name)
        return None if p is None else p.value.decode("utf-8")


def boundary_of(content_type):
    """The boundary of a multipart/form-data content type, or MultipartError."""
    if content_type is None:
        raise MultipartError("missing Content-Type")
    kind, sep, params = content_type.partition(";")
    if kind.strip().lower() != "multipart/form-data" or not sep:
        raise MultipartError("Content-Type is not multipart/form-data with a boundary")
    params = params.strip()
    if not params.lower().startswith("boundary="):
        raise MultipartError("no boundary parameter")
    boundary = params[len("boundary="):]
    if len(boundary) >= 2 and boundary[0] == boundary[-1] == '"':
        boundary = boundary[1:-1]
    if not _BOUNDARY_CHARS.match(boundary) or boundary.endswith(" "):
        raise MultipartError("malformed boundary")
    return boundary


def parse_multipart(body, boundary):
    """The parts of body framed by boundary, in order; MultipartError for any deviation."""
    delim = b"--" + boundary.encode("ascii")
    if not body.startswith(delim):
        raise MultipartError("body does not begin with the boundary")
    closing = b"\r\n" + delim + b"--\r\n"
    if body == delim + b"--\r\n":
        return []
    if not body.endswith(closing):
        raise MultipartError("body does not end with the closing boundary")
    inner = body[len(delim):len(body) - len(closing)]
    # inner = "\r\n<part>" ("\r\n--B\r\n<part>")*
    pieces = inner.split(b"\r\n" + delim)
    parts = []
    for i, piece in enumerate(pieces):
        if not piece.startswith(b"\r\n"):
            raise MultipartError(f"part {i + 1}: no line break after the boundary")
        head, sep, value = piece[2:].partition(b"\r\n\r\n")
        if not sep:
            raise MultipartError(f"part {i + 1}: no empty line after the headers")
        headers = []
        for line in head.split(b"\r\n"):
            name, colon, val = line.decode("utf-8", "strict").partition(":")
            if not colon or not name or name != name.strip():
                raise MultipartError(f"part {i + 1}: malformed header line")
            headers.append((name, val.strip()))
        lower = {k.lower(): v for k, v in headers}
        if len(lower) != len(headers):
            raise MultipartError(f"part {i + 1}: repeated header")
        disposition = lower.get("content-disposition")
        m = _DISPOSITION.match(disposition or "")
        if not m:
            raise MultipartError(f"part {i + 1}: malformed Content-Disposition")
        unknown = set(lower) - {"content-disposition", "content-type"}
        if unknown:
            raise MultipartError(f"part {i + 1}: unexpected header {sorted(unknown)[0]}")
        parts.append(Part(m.group(1), value, m.group(2), lower.get("content-type"), headers))
    return parts


def uploads(server):
    """The list of uploads that server has parsed (in arrival order)."""
    with _state_lock:
        if not hasattr(server, "uploads"):
            server.uploads = []
        return server.uploads


def store_dir(server):
    """The directory where server keeps uploaded files by digest (a tmp dir by default)."""
    with _state_lock:
        if getattr(server, "store_dir", None) is None:
            server.store_dir = tempfile.mkdtemp(prefix="refserver-befund-")
        return server.store_dir


def stored_path(server, sha256):
    return os.path.join(store_dir(server), sha256)


REQUIRED = ("filename", "sha256", "file")


def befund_endpoint(server, request):
    from .core import json_reply
    if request.method != "POST":
        return json_reply(405, {"error": "method not allowed"})
    if not server.authorized(request):
        return json_reply(401, {"error": "invalid token"})
    try:
        boundary = boundary_of(request.header("Content-Type"))
        parts = parse_multipart(request.body, boundary)
    except (MultipartError, UnicodeDecodeError) as e:
        return json_reply(400, {"error": f"malformed multipart body: {e}"})
    upload = Upload(boundary, parts, request.body, request.header("Authorization"))
    names = upload.names()
    for name in REQUIRED:
        if names.count(name) != 1:
            return json_reply(400, {"error": f"form part {name} missing or repeated"})
    file_part = upload.field("file")
    if file_part.filename is None:
        return json_reply(400, {"error": "form part file carries no filename"})
    digest = hashlib.sha256(file_part.value).hexdigest()
    if upload.text("sha256") != digest:
        return json_reply(400, {"error": "sha256 does not match the file"})
    path = stored_path(server, digest)
    with _state_lock:
        if os.path.exists(path):
            result = "duplicate"
        else:
            tmp = path + ".part"
            with open(tmp, "wb") as f:
                f.write(file_part.value)
            os.replace(tmp, path)
            result = "stored"
    upload.result, upload.receipt_id = result, "rcpt-" + secrets.token_hex(8)
    uploads(server).append(upload)
    return json_reply(200, {"result": result, "receipt_id": upload.receipt_id})
