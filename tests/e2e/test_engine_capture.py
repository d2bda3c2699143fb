"""Capture of findings files from the import directory into the spool, with the ledger."""
import subprocess
import time

from engine_helpers import (HOLDOPEN, ISO, SPOOL_NAME, captured_names, captures, ledger_rows,
                            mtime_ms, sha256, spool_files, start_engine, stop_cleanly, wait_for)


def test_file_written_in_pieces_is_captured_once_after_it_is_quiet(product):
    c = start_engine(product, stable_ms=1000)
    src = product.import_dir / "report.pdf"
    content = b""
    with open(src, "wb") as f:
        for i in range(6):
            piece = bytes([65 + i]) * 1000 + b"\n"
            f.write(piece)
            f.flush()
            content += piece
            time.sleep(0.4)
    c.wait_log("captured report.pdf")
    time.sleep(1.5)  # room for a second capture, which must not come
    stop_cleanly(c)

    digest = sha256(content)
    assert captures(product) == [("report.pdf", len(content), digest)]
    [spooled] = spool_files(product)
    m = SPOOL_NAME.match(spooled)
    assert m, spooled
    captured_at, last_write, counter, source = int(m[1]), int(m[2]), m[3], m[4]
    assert (counter, source) == ("0000", "report.pdf")
    assert last_write == mtime_ms(src)
    assert captured_at - last_write >= 1000
    assert (product.spool / spooled).read_bytes() == content
    [row] = ledger_rows(product)
    assert row[:4] == ["report.pdf", str(len(content)), str(last_write), digest]
    assert len(row) == 5 and ISO.match(row[4]), row


def test_ledger_keeps_versions_across_restarts(product):
    a = product.import_dir / "a.bef"
    a.write_bytes(b"first")
    c = start_engine(product)
    c.wait_log("captured a.bef")
    stop_cleanly(c)

    # Restart: a.bef is known. b.bef arrives later than a.bef would be captured again.
    c = start_engine(product)
    (product.import_dir / "b.bef").write_bytes(b"second")
    c.wait_log("captured b.bef")
    assert captured_names(product) == ["a.bef", "b.bef"]

    # Rewriting the same bytes only gives a new last-write time: still a new version.
    before = mtime_ms(a)
    a.write_bytes(b"first")
    assert mtime_ms(a) != before
    c.wait_log("captured a.bef", count=2)
    stop_cleanly(c)
    assert [r[0] for r in ledger_rows(product)] == ["a.bef", "b.bef", "a.bef"]

    # Without the ledger everything still in the import directory is captured again.
    product.ledger.unlink()
    c = start_engine(product)
    wait_for(lambda: len(captured_names(product)) == 5, what="captures after the ledger went")
    stop_cleanly(c)
    assert sorted(captured_names(product)[3:]) == ["a.bef", "b.bef"]
    assert len(spool_files(product)) == 5


def test_only_non_empty_files_with_a_watched_extension_are_captured(product):
    d = product.import_dir
    (d / "empty.bef").write_bytes(b"")
    (d / "UP.PDF").write_bytes(b"upper")
    (d / "notes.pdf.part").write_bytes(b"partial")
    (d / "noext").write_bytes(b"none")
    (d / "sub.bef").mkdir()
    (d / "sub.bef" / "inner.bef").write_bytes(b"inner")
    (d / "marker.bef").write_bytes(b"marker")
    c = start_engine(product)
    c.wait_log("captured marker.bef")
    (d / "sub.bef" / "late.bef").write_bytes(b"late")
    time.sleep(1.5)  # several more passes for anything that should not be captured
    stop_cleanly(c)
    assert sorted(captured_names(product)) == ["UP.PDF", "marker.bef"]
    assert [SPOOL_NAME.match(n)[4] for n in spool_files(product)] == ["UP.PDF", "marker.bef"]


def test_files_stable_in_one_pass_are_captured_in_code_unit_order(product):
    names = ["\u00c4.bef", "a.bef", "B.bef"]
    for n in names:
        (product.import_dir / n).write_bytes(n.encode("utf-8"))
    c = start_engine(product)
    wait_for(lambda: len(captured_names(product)) == 3, what="three captures")
    stop_cleanly(c)
    expected = ["B.bef", "a.bef", "\u00c4.bef"]
    assert captured_names(product) == expected
    assert [r[0] for r in ledger_rows(product)] == expected
    by_counter = sorted((SPOOL_NAME.match(n)[3], SPOOL_NAME.match(n)[4]) for n in spool_files(product))
    assert by_counter == [("0000", "B.bef"), ("0001", "a.bef"), ("0002", "\u00c4.bef")]


def test_file_held_open_by_a_writer_waits_until_it_is_closed(product):
    src = product.import_dir / "held.bef"
    src.write_bytes(b"still open")
    out, release = product.tmp / "holdopen.out", product.tmp / "release"
    with open(out, "wb") as fh:
        holder = product.wine.popen(HOLDOPEN, product.wine.winpath(src),
                                    product.unix_to_wine(release), stdout=fh,
                                    stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: b"held" in out.read_bytes(), what="the writer to hold the file")
        c = start_engine(product)
        time.sleep(1.5)  # the file is stable after 300 ms; every attempt finds it busy
        assert captured_names(product) == []
        release.write_bytes(b"")
        assert holder.wait(timeout=30) == 0
    finally:
        release.write_bytes(b"")
        if holder.poll() is None:
            holder.kill()
            holder.wait()
    c.wait_log("captured held.bef")
    stop_cleanly(c)
    [spooled] = spool_files(product)
    assert (product.spool / spooled).read_bytes() == b"still open"
