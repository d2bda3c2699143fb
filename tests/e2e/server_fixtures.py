"""Helpers for the server-access tests: secret files, throwaway PKI, and third-party servers
(nginx as TLS front, tinyproxy as forward proxy, a Django OAuth Toolkit token endpoint), all
started on loopback ephemeral ports with their files in the test's tmp directory."""
import socket
import subprocess
import time
from pathlib import Path


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
