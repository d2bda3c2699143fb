#!/usr/bin/python3
"""make demo: one findings file and one PDF travel from the import directory to the reference
findings server, with the service running in the foreground under Wine.

Uses its own Wine prefix ($BUILD_DIR/demo-prefix) and the exe of $BUILD_DIR; starts the
reference server on 127.0.0.1, stores the demo client's secret, runs --console, drops the files,
shows what the service logged and what the server stored, and stops the service with Ctrl+C.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
from refserver import RefServer, befund  # noqa: E402

BUILD = ROOT / os.environ.get("BUILD_DIR", "build")
EXE = BUILD / "rizurarirove.exe"
PREFIX = BUILD / "demo-prefix"
CLIENT_ID, SECRET = "demo-praxis", "demo-secret"

BEF = ("LDT-Befund\r\n8000 8220\r\n3101 Mustermann\r\n3102 Erika\r\n"
       "8410 HB\r\n8420 13.9\r\n8421 g/dl\r\n").encode("latin-1")
PDF = (b"%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
       b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n")


def say(text=""):
    print(text, flush=True)


class Demo:
    def __init__(self, prefix=PREFIX):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.drive_c = prefix / "drive_c"
        self.product_dir = self.drive_c / "ProgramData" / "Talvenor-Dev"
        self.state_dir = self.product_dir / "Rizurarirove"
        self.import_dir = self.drive_c / "Demo" / "Import"
        self.log = self.state_dir / "service.log"
        self.wineserver = None

    def wine(self, *args, timeout=120):
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine", *map(str, args)], env=self.env, stdout=out,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return r.returncode, out.read().decode("utf-8", "replace")

    def prepare_prefix(self):
        if not (self.prefix / "system.reg").exists():
            say(f"Creating the Wine prefix {self.prefix} (once) ...")
            self.prefix.mkdir(parents=True, exist_ok=True)
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
        # Let the server of the set-up end, then keep one running for the whole run.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        self.wineserver = subprocess.Popen(["wineserver", "-p"], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A fresh product state for every demo run.
        for p in (self.product_dir, self.import_dir):
            if p.exists():
                shutil.rmtree(p)
        self.wine("reg", "delete", r"HKLM\SOFTWARE\Talvenor-Dev", "/f", "/reg:64")
        self.import_dir.mkdir(parents=True)

    def write_ini(self, server, extra="delete_pdf=1\r\n"):
        self.product_dir.mkdir(parents=True, exist_ok=True)
        text = (f"[server]\r\nurl={server.url}\r\ntoken_url={server.token_url}\r\n"
                f"client_id={CLIENT_ID}\r\n[import]\r\ndir=C:\\Demo\\Import\r\n"
                "stable_ms=500\r\n" + extra)
        (self.product_dir / "service.ini").write_bytes(text.encode("utf-16"))
        return text

    def log_text(self):
        try:
            return self.log.read_bytes().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def wait_log(self, text, count=1, timeout=60):
        deadline = time.time() + timeout
        while self.log_text().count(text) < count:
            if time.time() > deadline:
                raise SystemExit(f"demo failed: the log never showed {text!r}\n{self.log_text()}")
            time.sleep(0.1)

    def stop(self):
        if self.wineserver is not None:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
            self.wineserver.wait(timeout=30)


def main():
    if not EXE.exists():
        raise SystemExit(f"{EXE} is missing: run make build")
    demo = Demo()
    store = BUILD / "demo-store"
    shutil.rmtree(store, ignore_errors=True)
    store.mkdir(parents=True)
    server = RefServer(clients={CLIENT_ID: SECRET})
    server.store_dir = str(store)
    server.start()
    try:
        demo.prepare_prefix()
        say(f"== Reference findings server on {server.url} (client {CLIENT_ID})")
        say()
        say("== service.ini (C:\\ProgramData\\Talvenor-Dev\\service.ini)")
        for line in demo.write_ini(server).splitlines():
            say("   " + line)
        say()
        secret_file = demo.drive_c / "Demo" / "secret.txt"
        secret_file.write_text(SECRET)
        rc, out = demo.wine(EXE, "--set-secret-file", r"C:\Demo\secret.txt")
        secret_file.unlink()
        say(f"== rizurarirove.exe --set-secret-file C:\\Demo\\secret.txt  (exit {rc})")
        say("   " + out.strip())
        if rc != 0:
            raise SystemExit("demo failed: the secret was not stored")
        say()

        say("== rizurarirove.exe --console")
        console_out = BUILD / "demo-console.out"
        with console_out.open("wb") as fh:
            proc = subprocess.Popen(["wine", str(EXE), "--console"], env=demo.env, stdout=fh,
                                    stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        demo.wait_log("service started")
        time.sleep(0.5)
        say("== dropping befund-0815.bef and befund-0815.pdf into C:\\Demo\\Import")
        (demo.import_dir / "befund-0815.bef").write_bytes(BEF)
        (demo.import_dir / "befund-0815.pdf").write_bytes(PDF)
        demo.wait_log("uploaded ", count=2)
        demo.wait_log("deleted pdf befund-0815.pdf")
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        try:
            rc = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise SystemExit("demo failed: --console did not stop after Ctrl+C")
        say("   console output of the service (its log, echoed):")
        for line in console_out.read_bytes().decode("utf-8", "replace").splitlines():
            say("   | " + line)
        say(f"   Ctrl+C sent; --console ended with exit code {rc}")
        say()

        say("== What the server received at /api/befund")
        for u in befund.uploads(server):
            say(f"   {u.text('filename')}: {len(u.field('file').value)} bytes, "
                f"sha256={u.text('sha256')[:16]}..., captured_at={u.text('captured_at')}, "
                f"host={u.text('host')} -> {u.result}, receipt {u.receipt_id}")
            say(f"      form parts: {', '.join(u.names())}")
        say()
        say(f"== Stored by digest in {store}")
        for p in sorted(store.iterdir()):
            say(f"   {p.name}  {p.stat().st_size} bytes")
        say()
        remaining = sorted(p.name for p in demo.import_dir.iterdir())
        say("== Import directory afterwards: " + (", ".join(remaining) or "(empty)"))
        say("   (the .bef stays; the PDF was deleted after the server confirmed it, delete_pdf=1)")
        spool = demo.state_dir / "spool"
        say("== Spool afterwards: " + (", ".join(p.name for p in spool.iterdir()) or "(empty)"))
    finally:
        server.stop()
        demo.stop()


if __name__ == "__main__":
    main()
