"""Core of the reference findings server: HTTP(S) on loopback, scripted answers, request log.

Endpoints are plain functions registered in RefServer.routes: handler(server, request) -> Reply.
Tests script answers per path (status, body, delay, dropped connection) and read back every
request exactly as it arrived.
"""
import collections
import http.server
import json
import secrets
import socket
import ssl
import threading
import time
import urllib.parse
from dataclasses import dataclass, field

from . import befund

TOKEN_PATH = "/realms/brevant/protocol/openid-connect/token"


@dataclass
class Recorded:
    method: str
    path: str
    headers: list          # [(name, value)] in the order received
    body: bytes
    request_line: str
    time: float = field(default_factory=time.time)

    def header(self, name):
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return None


@dataclass
class Reply:
    status: int = 200
    body: bytes = b""
    content_type: str = "application/json"
    delay: float = 0.0
    drop: bool = False          # close the connection without any answer
    headers: list = field(default_factory=list)


def json_reply(status, obj):
    return Reply(status, json.dumps(obj).encode())


class RefServer:
    """One server on 127.0.0.1. start() binds an ephemeral port unless one is given."""

    def __init__(self, clients=None, expires_in=300, certfile=None, keyfile=None):
        self.clients = dict(clients or {"demo-client": "demo-secret"})
        self.expires_in = expires_in
        self.certfile, self.keyfile = certfile, keyfile
        self.requests = []
        self.scripted = collections.defaultdict(collections.deque)
        self.tokens = set()
        self.lock = threading.Lock()
        self.routes = {TOKEN_PATH: token_endpoint, "/token": token_endpoint}
        self.routes["/api/befund"] = befund.befund_endpoint
        self.httpd = None
        self.thread = None
        self.arrived = threading.Condition(self.lock)

    # -- life cycle -------------------------------------------------------------------------
    def start(self, port=0, host="127.0.0.1"):
        server = self

        class Handler(RequestHandler):
            refserver = server

        self.httpd = _QuietServer((host, port), Handler)
        self.httpd.daemon_threads = True
        if self.certfile:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(self.certfile, self.keyfile)
            # The handshake runs in the connection's own thread (Handler.setup): done in accept(),
            # one client that stalls or aborts it would hold up every other connection.
            self.httpd.socket = ctx.wrap_socket(self.httpd.socket, server_side=True,
                                                do_handshake_on_connect=False)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None

    def __enter__(self):
        return self.start() if self.httpd is None else self

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self.httpd.server_address[1]

    @property
    def url(self):
        scheme = "https" if self.certfile else "http"
        return f"{scheme}://127.0.0.1:{self.port}"

    def base_url(self, host="127.0.0.1"):
        scheme = "https" if self.certfile else "http"
        return f"{scheme}://{host}:{self.port}"

    @property
    def token_url(self):
        return self.url + TOKEN_PATH

    # -- scripting and inspection -----------------------------------------------------------
    def script(self, path, status=200, body=b"", delay=0.0, drop=False, content_type="application/json",
               headers=None):
        """Queues one answer for the next request to path (before the endpoint's own logic).
        headers: extra [(name, value)], e.g. [("Location", url)] for a redirect."""
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            body = body.encode()
        with self.lock:
            self.scripted[path].append(Reply(status, body, content_type, delay, drop, list(headers or [])))

    def requests_to(self, path):
        with self.lock:
            return [r for r in self.requests if r.path == path]

    def clear(self):
        with self.lock:
            self.requests.clear()
            self.scripted.clear()

    def wait_for(self, predicate, timeout=10.0):
        """Waits until predicate(requests) is true; returns whether it became true."""
        deadline = time.time() + timeout
        with self.arrived:
            while not predicate(list(self.requests)):
                left = deadline - time.time()
                if left <= 0:
                    return False
                self.arrived.wait(left)
            return True

    def revoke_tokens(self):
        with self.lock:
            self.tokens.clear()

    def authorized(self, request):
        auth = request.header("Authorization") or ""
        if not auth.startswith("Bearer "):
            return False
        with self.lock:
            return auth[len("Bearer "):] in self.tokens

    def issue_token(self):
        token = secrets.token_urlsafe(24)
        with self.lock:
            self.tokens.add(token)
        return token

    # -- dispatch ---------------------------------------------------------------------------
    def handle(self, request):
        with self.arrived:
            self.requests.append(request)
            self.arrived.notify_all()
            queue = self.scripted.get(request.path)
            if queue:
                return queue.popleft()
        route = self.routes.get(request.path)
        if route is None:
            return json_reply(404, {"error": "not found"})
        return route(self, request)


class _QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A client that aborts the TLS handshake (an untrusted certificate) or the connection
        # is part of the tests, not a server fault worth a traceback.
        import sys
        if isinstance(sys.exc_info()[1], OSError):
            return
        super().handle_error(request, client_address)


class RequestHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # headers and body go out at once, no delayed-ACK stall
    refserver = None

    def log_message(self, *args):
        pass

    def setup(self):
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(30)
            self.request.do_handshake()
        super().setup()

    def _serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = urllib.parse.urlsplit(self.path).path
        rec = Recorded(self.command, path, list(self.headers.items()), body, self.requestline)
        reply = self.refserver.handle(rec)
        if reply.delay:
            time.sleep(reply.delay)
        if reply.drop:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        self.send_response(reply.status)
        self.send_header("Content-Type", reply.content_type)
        self.send_header("Content-Length", str(len(reply.body)))
        for k, v in reply.headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(reply.body)

    do_POST = _serve
    do_GET = _serve


def token_endpoint(server, request):
    """OAuth2 client-credentials grant with the credentials in the form body."""
    if request.method != "POST":
        return json_reply(405, {"error": "invalid_request"})
    ctype = (request.header("Content-Type") or "").split(";")[0].strip()
    if ctype != "application/x-www-form-urlencoded":
        return json_reply(400, {"error": "invalid_request"})
    try:
        form = urllib.parse.parse_qs(request.body.decode("ascii"), keep_blank_values=True,
                                     strict_parsing=True)
    except (UnicodeDecodeError, ValueError):
        return json_reply(400, {"error": "invalid_request"})
    if any(len(v) != 1 for v in form.values()):
        return json_reply(400, {"error": "invalid_request"})
    form = {k: v[0] for k, v in form.items()}
    if form.get("grant_type") != "client_credentials":
        return json_reply(400, {"error": "unsupported_grant_type"})
    client_id, secret = form.get("client_id"), form.get("client_secret")
    if client_id is None or secret is None:
        return json_reply(400, {"error": "invalid_request"})
    if server.clients.get(client_id) != secret:
        return json_reply(401, {"error": "invalid_client"})
    answer = {"access_token": server.issue_token(), "token_type": "Bearer"}
    if server.expires_in is not None:
        answer["expires_in"] = server.expires_in
    return json_reply(200, answer)
