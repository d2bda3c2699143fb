"""PDF disposal after upload: only "stored"/"duplicate" delete, only unchanged content goes, and
the full scan leaves a PDF alone while a spool or rejected copy of it exists."""
import time

import pytest

from upload_support import (server, setup_engine, sha256, spool_names,  # noqa: F401
                            upload_requests, wait_until)


@pytest.mark.parametrize("answer,deleted", [
    ({"result": "stored", "receipt_id": "r1"}, True),
    ({"result": "duplicate", "receipt_id": "r2"}, True),
    ({"result": "Stored", "receipt_id": "r3"}, False),
    ({"result": "queued", "receipt_id": "r4"}, False),
    ({"receipt_id": "r5"}, False),
])
def test_only_stored_or_duplicate_deletes(product, server, answer, deleted):
    setup_engine(product, server, delete_pdf=1)
    server.script("/api/befund", 200, answer)
    c = product.start_console()
    product.wait_log("service started")
    (product.import_dir / "x.pdf").write_bytes(b"%PDF x")
    log = product.wait_log("uploaded x.pdf result=")
    if deleted:
        product.wait_log("deleted pdf x.pdf")
    else:
        time.sleep(0.5)
    assert c.stop() == 0
    assert (product.import_dir / "x.pdf").exists() != deleted
    assert f"uploaded x.pdf result={answer.get('result', '')} receipt={answer['receipt_id']}\r\n" in log
    assert spool_names(product) == []


def test_pdf_rewritten_after_capture_stays_until_its_new_version_is_confirmed(product, server):
    setup_engine(product, server, delete_pdf=1)
    first, second = b"%PDF first findings", b"%PDF amended findings, longer"
    # The first upload is slow: the practice software rewrites the PDF meanwhile.
    server.script("/api/befund", 200, {"result": "stored", "receipt_id": "slow"}, delay=1.5)
    c = product.start_console()
    product.wait_log("service started")
    pdf = product.import_dir / "r.pdf"
    pdf.write_bytes(first)
    wait_until(lambda: len(upload_requests(server)) == 1, what="first upload")
    pdf.write_bytes(second)
    product.wait_log("uploaded r.pdf result=stored receipt=slow")
    # The content differs from what was uploaded: no deletion, no line.
    assert pdf.read_bytes() == second
    assert f"deleted pdf r.pdf sha256={sha256(first)}" not in product.log_text()
    # The new version is captured, uploaded and then deleted under its own digest.
    log = product.wait_log(f"deleted pdf r.pdf sha256={sha256(second)}", timeout=30)
    assert c.stop() == 0
    assert not pdf.exists()
    assert "delete pdf" not in log.replace("deleted pdf", "")


def test_full_scan_leaves_a_pdf_alone_while_a_rejected_copy_exists(product, server):
    setup_engine(product, server, delete_pdf=1, scan_seconds=1)
    server.script("/api/befund", 422, {"error": "unreadable"})
    c = product.start_console()
    product.wait_log("service started")
    pdf = product.import_dir / "rej.pdf"
    pdf.write_bytes(b"%PDF rejected")
    product.wait_log("rejected rej.pdf http=422 error=unreadable")
    # Several full scans pass; the rejected copy keeps the PDF in place.
    time.sleep(2.5)
    assert pdf.exists()
    assert "deleted pdf" not in product.log_text()
    [rejected] = list(product.rejected.iterdir())
    rejected.unlink()
    # Without the copy the next full scan retries the disposal as "stored".
    product.wait_log(f"deleted pdf rej.pdf sha256={sha256(b'%PDF rejected')}", timeout=10)
    assert c.stop() == 0
    assert not pdf.exists()


def test_full_scan_leaves_a_pdf_alone_while_its_spool_copy_waits(product, server):
    setup_engine(product, server, delete_pdf=1, scan_seconds=1)
    server.script("/api/befund", 503, {"error": "later"})
    c = product.start_console()
    product.wait_log("service started")
    pdf = product.import_dir / "wait.pdf"
    pdf.write_bytes(b"%PDF waiting")
    product.wait_log("upload deferred wait.pdf http=503")
    time.sleep(2.5)   # full scans every second meanwhile
    assert pdf.exists() and len(spool_names(product)) == 1
    assert "deleted pdf" not in product.log_text()
    product.wait_log("deleted pdf wait.pdf", timeout=20)   # after the 5 s back-off
    assert c.stop() == 0
