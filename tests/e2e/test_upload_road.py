"""The road of one findings file: capture, upload with the eight form parts, spool emptied,
logged, and with delete_pdf a confirmed PDF removed from the import directory."""
import os
import re

from upload_support import (check_upload, server, setup_engine, sha256, spool_names,  # noqa: F401
                            mtime_ms, upload_requests, wait_until, write_spool)
from refserver import befund


def test_dropped_files_are_uploaded_and_a_confirmed_pdf_is_deleted(product, server):
    setup_engine(product, server, delete_pdf=1)
    c = product.start_console()
    product.wait_log("service started")
    bef = b"BEF\r\nPatient: M\xfcller\r\n" * 50
    pdf = b"%PDF-1.4\n" + bytes(range(256)) * 40
    (product.import_dir / "labor_01.bef").write_bytes(bef)
    (product.import_dir / "befund 2.pdf").write_bytes(pdf)
    mtimes = {"labor_01.bef": mtime_ms(product.import_dir / "labor_01.bef"),
              "befund 2.pdf": mtime_ms(product.import_dir / "befund 2.pdf")}
    log = product.wait_log("deleted pdf befund 2.pdf", timeout=30)
    product.wait_log("uploaded labor_01.bef", timeout=30)
    log = product.log_text()
    assert c.stop() == 0

    requests = upload_requests(server)
    assert len(requests) == 2
    by_name = {}
    for r in requests:
        assert r.header("Authorization").startswith("Bearer ")
        name = befund.parse_multipart(r.body, r.header("Content-Type").split("boundary=")[1])[0]
        by_name[name.value.decode()] = r
    check_upload(by_name["labor_01.bef"], "labor_01.bef", bef, mtimes["labor_01.bef"])
    check_upload(by_name["befund 2.pdf"], "befund 2.pdf", pdf, mtimes["befund 2.pdf"])

    # The server stored both under their digests; each receipt is in the log line.
    for u in befund.uploads(server):
        source = u.text("filename")
        assert f"uploaded {source} result=stored receipt={u.receipt_id}\r\n" in log
        stored = os.path.join(server.store_dir, u.text("sha256"))
        assert open(stored, "rb").read() == u.field("file").value
    assert spool_names(product) == []
    assert f"deleted pdf befund 2.pdf sha256={sha256(pdf)}\r\n" in log
    assert not (product.import_dir / "befund 2.pdf").exists()
    assert (product.import_dir / "labor_01.bef").read_bytes() == bef
    # The capture's digest is the one that was sent and the one the deletion checked.
    assert f"captured befund 2.pdf size={len(pdf)} sha256={sha256(pdf)}" in log


def test_pdf_stays_without_delete_pdf_and_names_travel_as_utf8(product, server):
    setup_engine(product, server)
    c = product.start_console()
    product.wait_log("service started")
    name = "Bef\u00fcnd_\u00c4rztin_1.pdf"
    data = b"%PDF unicode"
    (product.import_dir / name).write_bytes(data)
    product.wait_log(f"uploaded {name} result=stored", timeout=30)
    assert c.stop() == 0
    [r] = upload_requests(server)
    form = check_upload(r, name, data)
    assert 'filename="{}"'.format(name).encode("utf-8") in r.body
    assert form["file"].filename == name
    assert (product.import_dir / name).read_bytes() == data
    assert "deleted pdf" not in product.log_text()


def test_leftover_spool_files_go_first_oldest_capture_first(product, server):
    setup_engine(product, server)
    # An earlier run left these; created in an order unrelated to their capture times.
    leftovers = {
        "1700000000300_1690000000000_0002_c.bef": b"third",
        "1700000000100_1690000000000_0000_a.bef": b"first",
        "1700000000400_1690000000000_0001_a.bef": b"fourth",
        "1700000000200_1690000000000_0001_z.bef": b"second",
        "1700000000050_1690000000000_0003_1_2_3_.bef": b"zeroth",
    }
    for n, data in leftovers.items():
        write_spool(product, n, data)
    c = product.start_console()
    wait_until(lambda: len(upload_requests(server)) == 5, what="five uploads")
    product.wait_log("uploaded a.bef", count=2)
    assert c.stop() == 0
    order = [check_upload(r, *expected) for r, expected in zip(
        upload_requests(server),
        [("1_2_3_.bef", b"zeroth"), ("a.bef", b"first"), ("z.bef", b"second"),
         ("c.bef", b"third"), ("a.bef", b"fourth")])]
    assert order[1]["captured_at"].value == b"2023-11-14T22:13:20.100Z"
    assert order[1]["file_mtime"].value == b"2023-07-22T04:26:40.000Z"
    assert spool_names(product) == []
    log = product.log_text()
    assert re.findall(r"uploaded (\S+) result=stored", log) == [
        "1_2_3_.bef", "a.bef", "z.bef", "c.bef", "a.bef"]
