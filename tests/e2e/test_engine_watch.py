"""The import directory watch: immediate nomination, and a directory that is missing at first."""
import time

from engine_helpers import (captured_names, engine_ini, log_count, start_engine, stop_cleanly,
                            wait_for)


def test_new_and_renamed_files_are_captured_without_waiting_for_the_scan(product):
    c = start_engine(product, scan_seconds=3600)
    time.sleep(0.5)  # the first pass's scan is over; only the watch can see what follows
    (product.import_dir / "new.bef").write_bytes(b"new")
    (product.import_dir / "draft.tmp").write_bytes(b"renamed")
    (product.import_dir / "draft.tmp").rename(product.import_dir / "renamed.pdf")
    # Within stable_ms and a pass or two; the next full scan is an hour away.
    c.wait_log("captured new.bef", timeout=10)
    c.wait_log("captured renamed.pdf", timeout=10)
    stop_cleanly(c)
    assert sorted(captured_names(product)) == ["new.bef", "renamed.pdf"]


def test_missing_import_dir_is_retried_until_it_appears(product):
    missing = product.import_dir / "later"
    c = start_engine(product, wait_watch=False, scan_seconds=3600, import_dir=missing)
    c.wait_log("watch failed err=", count=2, timeout=30)
    assert c.proc.poll() is None
    assert log_count(product, "watching import dir") == 0

    # The directory appears with a file already in it: only a full scan can find that file.
    staging = product.import_dir / "staging"
    staging.mkdir()
    (staging / "waiting.bef").write_bytes(b"was there first")
    staging.rename(missing)
    c.wait_log("watching import dir", timeout=30)
    c.wait_log("captured waiting.bef", timeout=10)
    stop_cleanly(c)
    log = product.log_text()
    assert log.index("watching import dir") < log.index("captured waiting.bef")
