"""Engine start and stop under --console."""
from engine_helpers import start_engine, stop_cleanly


def test_ctrl_c_stops_the_engine_with_service_stopped_last(product):
    c = start_engine(product)
    stop_cleanly(c)  # exit code 0 and "service stopped" as the last line
    assert "service started, import=C:\\Import\r\n" in product.log_text()


def test_without_a_secret_the_engine_only_says_so(product):
    product.default_ini()
    c = product.start_console()
    assert c.proc.wait(timeout=30) == 0
    lines = product.log_text().splitlines()
    assert len(lines) == 1 and lines[0].endswith("] no client secret configured"), lines
