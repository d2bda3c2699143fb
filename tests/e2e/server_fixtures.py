"""Helpers for the server-access tests: secret files, throwaway PKI, and third-party servers
(nginx as TLS front, tinyproxy as forward proxy, a Django OAuth Toolkit token endpoint), all
started on loopback ephemeral ports with their files in the test's tmp directory."""
import os
import socket
import subprocess
import time
from pathlib import Path

BUILD = Path(__file__).resolve().parents[2] / os.environ.get("BUILD_DIR", "build")


def secret_file(product, secret, name="secret.txt"):
    """Writes the secret into a file in the test's tmp dir; returns its Windows path."""
    f = product.tmp / name
    f.write_bytes(secret.encode("utf-8") if isinstance(secret, str) else secret)
    return product.unix_to_wine(f)


def verify(product, url, client_id, secret, extra=()):
    """Runs --verify-secret-file against url; returns the Result."""
    args = ["--verify-secret-file", secret_file(product, secret), "--token-url", url]
    if client_id is not None:
        args += ["--client-id", client_id]
    return product.run(*args, *extra)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=20.0, proc=None):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError(f"server exited with {proc.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise TimeoutError(f"nothing listens on port {port}")


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Pki:
    """A throwaway CA and a server certificate for localhost and 127.0.0.1, made with openssl."""

    def __init__(self, directory: Path, name="ca"):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        d = self.dir
        self.ca_key, self.ca_pem, self.ca_der = d / f"{name}.key", d / f"{name}.pem", d / f"{name}.der"
        self.key, self.cert = d / f"{name}-server.key", d / f"{name}-server.pem"
        run = lambda *a: subprocess.run(["openssl", *map(str, a)], check=True, capture_output=True)
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            f"/CN=Talvenor Test CA {name} {time.time_ns()}", "-keyout", self.ca_key, "-out", self.ca_pem,
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        run("x509", "-in", self.ca_pem, "-outform", "DER", "-out", self.ca_der)
        csr = d / f"{name}-server.csr"
        run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", self.key, "-out", csr)
        ext = d / f"{name}-server.ext"
        # Wine 8's name check compares dNSName entries only, so 127.0.0.1 is there as a name too.
        ext.write_text("subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1\nextendedKeyUsage=serverAuth\n"
                       "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n")
        run("x509", "-req", "-in", csr, "-CA", self.ca_pem, "-CAkey", self.ca_key, "-CAcreateserial",
            "-days", "2", "-extfile", ext, "-out", self.cert)


def trust_root(product, pki, add=True):
    """Adds (or removes) the CA in the e2e prefix's machine ROOT store, never the host's."""
    tool = BUILD / "trustroot.exe"
    r = product.wine.run(tool, "add" if add else "remove", product.unix_to_wine(pki.ca_der))
    assert r.rc == 0, r


class Nginx:
    """Debian's nginx as a TLS front of an upstream on loopback: non-daemon, its own files."""

    def __init__(self, directory: Path, pki, upstream_port, protocols="TLSv1.2 TLSv1.3"):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.port = free_port()
        self.access_log = self.dir / "access.log"
        d = self.dir
        conf = d / "nginx.conf"
        conf.write_text(f"""
daemon off;
master_process off;
worker_processes 1;
pid {d}/nginx.pid;
error_log {d}/error.log info;
events {{ worker_connections 64; }}
http {{
    client_body_temp_path {d}/body;
    proxy_temp_path {d}/proxy;
    fastcgi_temp_path {d}/fastcgi;
    uwsgi_temp_path {d}/uwsgi;
    scgi_temp_path {d}/scgi;
    log_format tls '$request $status $ssl_protocol';
    access_log {self.access_log} tls;
    server {{
        listen 127.0.0.1:{self.port} ssl;
        ssl_certificate {pki.cert};
        ssl_certificate_key {pki.key};
        ssl_protocols {protocols};
        location / {{
            proxy_pass http://127.0.0.1:{upstream_port};
            proxy_http_version 1.1;
            proxy_set_header Host $http_host;
        }}
    }}
}}
""")
        self.proc = subprocess.Popen(["nginx", "-e", str(d / "error.log"), "-p", str(d), "-c", str(conf)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_port(self.port, proc=self.proc)

    def url(self, host="localhost"):
        return f"https://{host}:{self.port}"

    def log(self):
        try:
            return self.access_log.read_text()
        except FileNotFoundError:
            return ""

    def stop(self):
        stop_process(self.proc)


class TinyProxy:
    """Debian's tinyproxy as a forward proxy on loopback; its log is its standard error."""

    def __init__(self, directory: Path):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.port = free_port()
        conf = self.dir / "tinyproxy.conf"
        conf.write_text(f"Port {self.port}\nListen 127.0.0.1\nTimeout 30\nLogLevel Connect\n"
                        "MaxClients 10\nAllow 127.0.0.1\n")
        self.logfile = self.dir / "tinyproxy.log"
        with self.logfile.open("wb") as log:
            self.proc = subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)], stdout=log, stderr=log)
        wait_port(self.port, proc=self.proc)

    def log(self):
        return self.logfile.read_text(errors="replace")

    def requests(self):
        """The request lines the proxy received ("POST http://... HTTP/1.1")."""
        marker = "Request (file descriptor"
        return [line.split("): ", 1)[1] for line in self.log().splitlines() if marker in line]

    def stop(self):
        stop_process(self.proc)


INTERNET_CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def connection_settings(proxy, bypass):
    """The binary DefaultConnectionSettings value that names a proxy and a bypass list: a header
    (version 0x46, a counter, flags direct|proxy), then length-prefixed proxy, bypass and
    auto-configuration URL, then the unused remainder."""
    import struct
    p, b = proxy.encode("ascii"), bypass.encode("ascii")
    return (struct.pack("<III", 0x46, 1, 0x3) + struct.pack("<I", len(p)) + p +
            struct.pack("<I", len(b)) + b + struct.pack("<I", 0) + bytes(32))


def set_user_proxy(wine, proxy, bypass=""):
    """Names a proxy in the user's Internet settings of the prefix (what WinHTTP reads for the user)."""
    r = wine.run("reg", "add", INTERNET_CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                 "/d", connection_settings(proxy, bypass).hex(), "/f")
    assert r.rc == 0, r


def clear_user_proxy(wine):
    wine.run("reg", "delete", INTERNET_CONNECTIONS, "/v", "DefaultConnectionSettings", "/f")


class DjangoOAuth:
    """A real OAuth2 token endpoint: Debian's django-oauth-toolkit in a minimal Django project
    generated into directory, sqlite, one confidential client with the client-credentials grant
    (credentials taken from the form body, client_secret_post)."""

    def __init__(self, directory: Path, client_id, client_secret):
        import sys
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        d = self.dir
        (d / "settings.py").write_text(f"""
SECRET_KEY = "talvenor-test-only"
DEBUG = False
ALLOWED_HOSTS = ["127.0.0.1", "localhost"]
INSTALLED_APPS = ["django.contrib.auth", "django.contrib.contenttypes", "oauth2_provider"]
MIDDLEWARE = []
ROOT_URLCONF = "urls"
DATABASES = {{"default": {{"ENGINE": "django.db.backends.sqlite3", "NAME": {str(d / 'db.sqlite3')!r}}}}}
USE_TZ = True
DEFAULT_AUTO_FIELD = "django.db.models.AutoField"
OAUTH2_PROVIDER = {{"ACCESS_TOKEN_EXPIRE_SECONDS": 300}}
""")
        (d / "urls.py").write_text('from django.urls import include, path\n'
                                   'urlpatterns = [path("o/", include("oauth2_provider.urls", '
                                   'namespace="oauth2_provider"))]\n')
        (d / "setup_client.py").write_text(f"""
import django
django.setup()
from oauth2_provider.models import Application
Application.objects.create(name="praxis", client_id={client_id!r}, client_secret={client_secret!r},
                           client_type=Application.CLIENT_CONFIDENTIAL,
                           authorization_grant_type=Application.GRANT_CLIENT_CREDENTIALS)
""")
        env = dict(os.environ, DJANGO_SETTINGS_MODULE="settings", PYTHONPATH=str(d))
        py = "/usr/bin/python3"
        subprocess.run([py, "-m", "django", "migrate", "-v", "0"], cwd=d, env=env, check=True,
                       capture_output=True, timeout=120)
        subprocess.run([py, "setup_client.py"], cwd=d, env=env, check=True, capture_output=True, timeout=60)
        self.port = free_port()
        self.logfile = d / "server.log"
        with self.logfile.open("wb") as log:
            self.proc = subprocess.Popen([py, "-m", "django", "runserver", "--noreload",
                                          f"127.0.0.1:{self.port}"], cwd=d, env=env, stdout=log,
                                         stderr=subprocess.STDOUT)
        wait_port(self.port, timeout=60, proc=self.proc)
        self.token_url = f"http://127.0.0.1:{self.port}/o/token/"

    def log(self):
        return self.logfile.read_text(errors="replace")

    def stop(self):
        stop_process(self.proc)
