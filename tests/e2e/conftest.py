"""Fixtures that drive the real rizurarirove.exe under Wine.

One Wine prefix per test run (created fresh, with a persistent wineserver for the run); the
product's state is reset before every test: C:\\ProgramData\\Talvenor-Dev, the registry key
HKLM\\SOFTWARE\\Talvenor-Dev and a fresh import directory.

Stopping --console: Wine turns SIGINT sent to the process into a console CTRL_C_EVENT, so the
program's console handler runs and it exits cleanly. Console.stop() sends SIGINT and waits; a
hard kill is only the fallback, and it fails the test.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))

BUILD = ROOT / os.environ.get("BUILD_DIR", "build")
EXE = Path(os.environ.get("RIZ_EXE", BUILD / "rizurarirove.exe"))


@dataclass
class Result:
    rc: int
    stdout: bytes
    stderr: bytes


class Wine:
    def __init__(self, prefix: Path):
        self.prefix = prefix
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.drive_c = prefix / "drive_c"

    def winpath(self, path) -> str:
        """The Windows path (C:\\...) of a Linux path inside drive_c."""
        rel = Path(path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + str(rel).replace("/", "\\")

    def run(self, *args, timeout=60, check_rc=None) -> Result:
        # Output goes to files, not pipes: Wine's own helper processes (services, explorer)
        # may inherit the handles and would keep a pipe open after the program has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.Popen(["wine", *map(str, args)], env=self.env, stdout=out, stderr=err,
                                 stdin=subprocess.DEVNULL)
            try:
                rc = p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            err.seek(0)
            r = Result(rc, out.read(), err.read())
        if check_rc is not None:
            assert r.rc == check_rc, r
        return r

    def popen(self, *args, **kw):
        return subprocess.Popen(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL, **kw)

    def reg_delete(self, key):
        self.run("reg", "delete", key, "/f", "/reg:64")


@pytest.fixture(scope="session")
def wine(tmp_path_factory):
    assert EXE.exists(), f"{EXE} is missing: run make build"
    prefix = BUILD / "e2e-prefix"
    if prefix.exists():
        shutil.rmtree(prefix)
    prefix.mkdir(parents=True)
    w = Wine(prefix)
    subprocess.run(["wineboot", "-i"], env=w.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)
    server = subprocess.Popen(["wineserver", "-p"], env=w.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=w.env, timeout=300)
    yield w
    subprocess.run(["wineserver", "-k"], env=w.env, timeout=60)
    server.wait(timeout=30)


class Console:
    """A running --console process."""

    def __init__(self, product, proc, outfile):
        self.product, self.proc, self.outfile = product, proc, outfile

    def stdout(self) -> bytes:
        return self.outfile.read_bytes()

    def wait_log(self, text, timeout=20.0, count=1):
        return self.product.wait_log(text, timeout, count)

    def stop(self, timeout=10.0) -> int:
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                pytest.fail("--console did not stop after Ctrl+C")
        return self.proc.returncode

    def kill(self):
        """Ends the process at once, as a crash or power loss would."""
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
            # The Windows process may outlive the killed loader for a moment.
            subprocess.run(["wineserver", "-w"], env=self.product.wine.env, timeout=30)


class Product:
    """The product's state in the prefix, reset for each test."""

    def __init__(self, wine: Wine, tmp_path: Path):
        self.wine = wine
        self.tmp = tmp_path
        self.product_dir = wine.drive_c / "ProgramData" / "Talvenor-Dev"
        self.state_dir = self.product_dir / "Rizurarirove"
        self.spool = self.state_dir / "spool"
        self.rejected = self.state_dir / "rejected"
        self.ledger = self.state_dir / "captured.tsv"
        self.log = self.state_dir / "service.log"
        self.ini = self.product_dir / "service.ini"
        self.import_dir = wine.drive_c / "Import"
        self.consoles = []

    def reset(self):
        for p in (self.product_dir, self.import_dir):
            if p.exists():
                shutil.rmtree(p)
        self.wine.reg_delete(r"HKLM\SOFTWARE\Talvenor-Dev")
        self.import_dir.mkdir(parents=True)

    def write_ini(self, sections: dict, encoding="utf-16"):
        """Writes service.ini; sections = {"import": {"dir": "...", ...}, ...}."""
        self.product_dir.mkdir(parents=True, exist_ok=True)
        lines = []
        for name, keys in sections.items():
            lines.append(f"[{name}]")
            lines += [f"{k}={v}" for k, v in keys.items()]
        self.ini.write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))

    def default_ini(self, server=None, **import_keys):
        """An ini with the import directory of this test and, when given, a reference server."""
        sections = {"import": {"dir": self.wine.winpath(self.import_dir), "stable_ms": 500}}
        sections["import"].update(import_keys)
        if server is not None:
            sections["server"] = {"url": server.url, "token_url": server.token_url,
                                  "client_id": next(iter(server.clients))}
        self.write_ini(sections)

    def run(self, *args, timeout=60) -> Result:
        return self.wine.run(EXE, *args, timeout=timeout)

    def set_secret(self, secret: str):
        f = self.tmp / "secret.txt"
        f.write_text(secret)
        r = self.run("--set-secret-file", self.unix_to_wine(f))
        assert r.rc == 0, r
        return r

    def unix_to_wine(self, path) -> str:
        """A Windows path for any Linux path: drive_c paths as C:\\, others through Z:."""
        path = Path(path).resolve()
        try:
            return self.wine.winpath(path)
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def start_console(self, *extra) -> Console:
        out = self.tmp / f"console-{len(self.consoles)}.out"
        fh = out.open("wb")
        proc = self.wine.popen(EXE, "--console", *extra, stdout=fh, stderr=subprocess.DEVNULL)
        fh.close()
        c = Console(self, proc, out)
        self.consoles.append(c)
        return c

    def log_text(self) -> str:
        try:
            return self.log.read_bytes().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def wait_log(self, text, timeout=20.0, count=1):
        """Waits until text appears count times in service.log; returns the log."""
        deadline = time.time() + timeout
        while True:
            log = self.log_text()
            if log.count(text) >= count:
                return log
            if time.time() > deadline:
                pytest.fail(f"log never showed {text!r} x{count}; log:\n{log}")
            time.sleep(0.05)

    def cleanup(self):
        for c in self.consoles:
            if c.proc.poll() is None:
                c.proc.kill()
                c.proc.wait()
        subprocess.run(["wineserver", "-w"], env=self.wine.env, timeout=30)


@pytest.fixture
def product(wine, tmp_path):
    p = Product(wine, tmp_path)
    p.reset()
    yield p
    p.cleanup()


@pytest.fixture
def refserver():
    from refserver import RefServer
    s = RefServer(clients={"praxis-test": "s3cret"}).start()
    yield s
    s.stop()
