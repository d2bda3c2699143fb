"""The command line as an administrator uses it: exit codes, exact output bytes, what is left.

The check report, the secret commands, option order and letter case, the usage text of a
dispatcher that cannot connect, and --console's failure when the state directory cannot be
made.
"""
import re
import subprocess
import time

import pytest

from engine_helpers import HOLDOPEN

UNKNOWN = b"Unbekannte Option.\n"
SECRET_STORED = b"Secret gespeichert (HKLM, DPAPI).\n"
SECRET_NOT_STORED = b"Fehler: Secret nicht gespeichert (Administratorrechte?).\n"
STATE_DIR_FAILED = b"Fehler: Statusverzeichnis nicht anlegbar (Administratorrechte?).\n"
USAGE = (b"Talvenor Rizurarirove\n"
         b"  --install | --uninstall | --set-secret-file <datei> | --check | --console\n")
SERVICE_KEY = r"HKLM\SOFTWARE\Talvenor-Dev\Service"

DEFAULT_REPORT = (
    "PDF löschen:   nein\n"
    "Konfiguration: C:\\ProgramData\\Talvenor-Dev\\service.ini\n"
    "Server:        https://befunde.dev.talvenor.de\n"
    "Client:        wetysqtn-pr-978015\n"
    "Import:        C:\\CGM\\Connect\\Import (fehlt)\n"
    "Endungen:      .bef,.pdf\n"
    "Status:        C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\n"
    "Secret:        FEHLT\n"
).encode("utf-8")


def secret_path(product, content: bytes, name="secret.txt"):
    f = product.tmp / name
    f.write_bytes(content)
    return product.unix_to_wine(f)


def test_check_without_service_ini_prints_the_defaults(product):
    r = product.run("--check")
    assert (r.rc, r.stdout) == (0, DEFAULT_REPORT)
    # The report neither creates the state directory nor starts a log.
    assert not product.state_dir.exists()


def test_check_with_service_ini(product):
    product.write_ini({
        "server": {"url": "https://findings.example:8443///", "token_url": "http://127.0.0.1:9/t",
                   "client_id": "praxis-Ärzte"},
        "import": {"dir": "C:\\Import\\/\\", "extensions": " BEF, .Pdf,,xml ,", "delete_pdf": 1},
    })
    r = product.run("--check")
    assert r.rc == 0
    assert r.stdout == (
        "PDF löschen:   ja, sobald der Server sie bestätigt hat\n"
        "Konfiguration: C:\\ProgramData\\Talvenor-Dev\\service.ini\n"
        "Server:        https://findings.example:8443\n"
        "Client:        praxis-Ärzte\n"
        "Import:        C:\\Import (vorhanden)\n"
        "Endungen:      .BEF,.Pdf,.xml\n"
        "Status:        C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\n"
        "Secret:        FEHLT\n"
    ).encode("utf-8")
    # Every value starts in column 16.
    for line in r.stdout.decode("utf-8").splitlines():
        assert line[14] == " " and line[15] != " ", line


def test_check_with_empty_extensions_and_a_file_as_import_dir(product):
    (product.import_dir / "afile").write_bytes(b"a file, not a directory")
    product.write_ini({"import": {"dir": "C:\\Import\\afile", "extensions": ""}})
    r = product.run("--check")
    lines = r.stdout.decode("utf-8").splitlines()
    # Anything under that path counts as present; an empty list prints an empty value.
    assert "Import:        C:\\Import\\afile (vorhanden)" in lines
    assert "Endungen:      " in lines


def test_check_with_stored_secret_shows_it_present(product):
    product.write_ini({"server": {"token_url": "http://127.0.0.1:9/token"}})
    r = product.run("--set-secret-file", secret_path(product, b"s3cret\r\n"))
    assert (r.rc, r.stdout) == (0, SECRET_STORED)
    r = product.run("--check", timeout=120)
    assert r.rc == 0
    head, sep, rest = r.stdout.partition(b"Secret:        vorhanden\n")
    assert sep, r.stdout
    assert head == DEFAULT_REPORT[:DEFAULT_REPORT.index(b"Secret:")]
    # The Token line follows (the token client's result is tested with the token client).
    assert re.fullmatch(rb"Token:         (ok|FEHLER)\n", rest), rest


def test_foreign_blob_is_reported_missing(product):
    # A value that this machine's DPAPI with this program's entropy did not make.
    product.wine.run("reg", "add", SERVICE_KEY, "/v", "ClientSecret", "/t", "REG_BINARY",
                     "/d", "01000000d08c9ddf0115d1118c7a00c04fc297eb0100000000", "/f", "/reg:64",
                     check_rc=0)
    r = product.run("--check")
    assert (r.rc, r.stdout) == (0, DEFAULT_REPORT)


def test_set_secret_file_refuses_what_gives_no_secret(product):
    cases = {
        "empty file": ["--set-secret-file", secret_path(product, b"", "empty.txt")],
        "blank file": ["--set-secret-file", secret_path(product, b" \r\n\t \r\n", "blank.txt")],
        "missing file": ["--set-secret-file", "C:\\nowhere\\secret.txt"],
        # As the last argument the option has no value: an empty path, which cannot be read.
        "no value": ["--check", "--set-secret-file"],
        # The value is the next argument even when it is an option: a file named --check in
        # the working directory, which does not exist; --check does not run.
        "option as value": ["--set-secret-file", "--check"],
    }
    for name, args in cases.items():
        r = product.run(*args)
        assert (r.rc, r.stdout) == (1, SECRET_NOT_STORED), name
    assert product.run("--check").stdout == DEFAULT_REPORT


def test_verify_secret_file_without_a_secret_is_silent_1(product):
    blank = secret_path(product, b"  \r\n\r\n")
    cases = {
        "blank file": ["--verify-secret-file", blank],
        "missing file": ["--verify-secret-file", "C:\\nowhere\\secret.txt"],
        "no value": ["--check", "--verify-secret-file"],
        # --verify-secret-file comes before --set-secret-file and --console.
        "searched first": ["--console", "--set-secret-file", blank, "--verify-secret-file", blank],
    }
    for name, args in cases.items():
        r = product.run(*args)
        assert (r.rc, r.stdout) == (1, b""), name
    assert not product.state_dir.exists()


def test_unknown_options(product):
    for args in (["--Check"], ["--frobnicate"], ["check"], ["-check"], ["--CONSOLE", "x"], [""]):
        r = product.run(*args)
        assert (r.rc, r.stdout) == (1, UNKNOWN), args
    assert not product.state_dir.exists()


def test_check_is_searched_before_console_whatever_the_order(product):
    r = product.run("--console", "--check")
    assert (r.rc, r.stdout) == (0, DEFAULT_REPORT)
    assert not product.state_dir.exists(), "--console did not run"


@pytest.mark.parametrize("where", ["state_dir", "spool"])
def test_console_fails_when_a_file_stands_where_a_state_directory_belongs(product, where):
    blocked = getattr(product, where)
    blocked.parent.mkdir(parents=True)
    blocked.write_bytes(b"not a directory")
    r = product.run("--console")
    assert (r.rc, r.stdout) == (1, STATE_DIR_FAILED)
    assert blocked.read_bytes() == b"not a directory"
    assert not product.log.exists()


def test_unreadable_service_ini_is_named_in_the_report(product):
    # A directory where service.ini belongs: the profile reader silently gives the defaults.
    product.ini.mkdir(parents=True)
    r = product.run("--check")
    assert r.rc == 0
    lines = r.stdout.split(b"\n")
    assert lines[1] == b"Konfiguration: C:\\ProgramData\\Talvenor-Dev\\service.ini"
    assert re.fullmatch(
        rb"Warnung:       service.ini nicht lesbar \(Fehler \d+\), Standardwerte gelten", lines[2])
    # Apart from that line the report is the default one.
    assert b"\n".join(lines[:2] + lines[3:]) == DEFAULT_REPORT


def test_no_arguments_prints_the_usage_when_the_dispatcher_fails(product):
    # Started by hand, StartServiceCtrlDispatcherW cannot reach the service control manager
    # (Wine gives up after about ten seconds).
    r = product.run(timeout=120)
    assert (r.rc, r.stdout) == (1, USAGE)


def test_service_ini_held_by_a_writer_that_shares_reading_is_read(product):
    # An editor or a deployment tool with the file open for writing, reading allowed: the
    # configuration is read as usual, and there is no warning.
    product.write_ini({"import": {"dir": "C:\\Import", "extensions": "hl7"}})
    out, release = product.tmp / "holdopen.out", product.tmp / "release"
    with open(out, "wb") as fh:
        holder = product.wine.popen(HOLDOPEN, product.wine.winpath(product.ini),
                                    product.unix_to_wine(release), stdout=fh,
                                    stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 30
        while b"held" not in out.read_bytes():
            assert time.time() < deadline and holder.poll() is None, out.read_bytes()
            time.sleep(0.05)
        r = product.run("--check")
    finally:
        release.write_bytes(b"")
        holder.wait(timeout=30)
    lines = r.stdout.decode("utf-8").splitlines()
    assert "Import:        C:\\Import (vorhanden)" in lines
    assert "Endungen:      .hl7" in lines
    assert not any(line.startswith("Warnung:") for line in lines)
