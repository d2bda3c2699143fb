"""--console: standard output carries exactly the bytes the program formats.

The start line in UTF-8, then every log line as it is in service.log (CR LF, never CR CR LF),
also when the log file cannot be opened; Ctrl+C ends the run with exit code 0.
"""
import re
import time

START_LINE = ("Läuft im Vordergrund, Protokoll: "
              "C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\\service.log. Strg+C beendet.\n"
              ).encode("utf-8")
LOG_LINE = re.compile(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] [^\r\n]*\r\n")


def log_lines(data: bytes):
    lines = LOG_LINE.findall(data)
    assert b"".join(lines) == data, data
    return lines


def test_console_output_is_the_start_line_then_the_log_bytes(product):
    product.default_ini()
    c = product.start_console()
    assert c.proc.wait(timeout=60) == 0  # no secret stored: the engine returns by itself
    out = c.stdout()
    assert out.startswith(START_LINE), out
    echoed = out[len(START_LINE):]
    assert echoed == product.log.read_bytes()
    assert b"\r\r\n" not in out
    assert any(line.endswith(b"] no client secret configured\r\n") for line in log_lines(echoed))
    # The state directory and its two subdirectories are in place.
    assert product.spool.is_dir() and product.rejected.is_dir()


def test_log_that_cannot_be_opened_is_still_echoed(product):
    product.default_ini()
    product.log.mkdir(parents=True)  # a directory where the log file belongs
    c = product.start_console()
    assert c.proc.wait(timeout=60) == 0
    out = c.stdout()
    assert out.startswith(START_LINE), out
    assert b"] no client secret configured\r\n" in out
    log_lines(out[len(START_LINE):])
    assert product.log.is_dir() and not any(product.log.iterdir())


def test_unreadable_service_ini_is_logged(product):
    product.ini.mkdir(parents=True)
    c = product.start_console()
    assert c.proc.wait(timeout=60) == 0
    out = c.stdout()
    assert out.startswith(START_LINE), out
    first = log_lines(out[len(START_LINE):])[0]
    assert re.search(rb"\] service\.ini unreadable err=\d+, using defaults\r\n$", first), first
    assert product.log.read_bytes() == out[len(START_LINE):]


def test_ctrl_c_ends_console_with_exit_code_0(product, tmp_path):
    # With a secret the engine runs until it is stopped; the servers are unreachable ports.
    product.write_ini({"server": {"url": "http://127.0.0.1:9", "token_url": "http://127.0.0.1:9/t"},
                       "import": {"dir": product.wine.winpath(product.import_dir)}})
    product.set_secret("s3cret")
    c = product.start_console()
    deadline = time.time() + 30
    while not c.stdout().startswith(START_LINE) and c.proc.poll() is None:
        assert time.time() < deadline, c.stdout()
        time.sleep(0.05)
    assert c.stop() == 0
    out = c.stdout()
    assert out.startswith(START_LINE)
    assert b"\r\r\n" not in out
    log_lines(out[len(START_LINE):])
