"""How the drain treats the server's answers: 2xx uploaded, other 4xx rejected into the
rejected directory, 401/403/408/429, 1xx/3xx/5xx and no answer deferred with back-off."""
import time

import pytest

from refserver.core import TOKEN_PATH
from upload_support import (check_upload, server, setup_engine, spool_names,  # noqa: F401
                            upload_requests, wait_until, write_spool)

SPOOL = ["1700000000001_1690000000000_0000_f1.bef", "1700000000002_1690000000000_0000_f2.bef",
         "1700000000003_1690000000000_0000_f3.bef", "1700000000004_1690000000000_0000_f4.bef",
         "1700000000005_1690000000000_0000_f5.bef"]


def fill_spool(product, names):
    for n in names:
        write_spool(product, n, n.encode())


def test_rejections_go_aside_and_a_deferral_ends_the_pass_until_the_back_off(product, server):
    setup_engine(product, server)
    fill_spool(product, SPOOL)
    server.script("/api/befund", 400, {"error": "sha256 does not match"})
    server.script("/api/befund", 404, {"error": "no such tenant"})
    server.script("/api/befund", 413, b"too large")       # no JSON: the error reads as empty
    server.script("/api/befund", 503, {"error": "maintenance"})
    c = product.start_console()
    product.wait_log("upload deferred f4.bef http=503 winerr=0")
    # The pass ended at f4: f5 was not attempted, f4 and f5 wait in the spool.
    time.sleep(1.0)
    assert len(upload_requests(server)) == 4
    assert spool_names(product) == SPOOL[3:]
    assert sorted(p.name for p in product.rejected.iterdir()) == SPOOL[:3]
    for n in SPOOL[:3]:
        assert (product.rejected / n).read_bytes() == n.encode()
    log = product.log_text()
    assert "rejected f1.bef http=400 error=sha256 does not match\r\n" in log
    assert "rejected f2.bef http=404 error=no such tenant\r\n" in log
    assert "rejected f3.bef http=413 error=\r\n" in log

    # The engine tries again after 5 s, uploads the rest and never resends the rejected ones.
    product.wait_log("uploaded f5.bef result=stored", timeout=20)
    assert c.stop() == 0
    reqs = upload_requests(server)
    assert len(reqs) == 6
    assert 4.5 <= reqs[4].time - reqs[3].time <= 7.5, reqs[4].time - reqs[3].time
    for r, n in zip(reqs, SPOOL[:4] + SPOOL[3:]):
        check_upload(r, n.split("_", 3)[3], n.encode())
    assert spool_names(product) == []
    assert sorted(p.name for p in product.rejected.iterdir()) == SPOOL[:3]


@pytest.mark.parametrize("status", [403, 408, 429, 100, 302, 500, 503, "drop"])
def test_statuses_that_defer(product, server, status):
    setup_engine(product, server)
    fill_spool(product, SPOOL[:2])
    if status == "drop":
        server.script("/api/befund", drop=True)
    else:
        server.script("/api/befund", status, {"error": "not now"},
                      headers=[("Location", server.url + "/elsewhere")] if 300 <= status < 400 else None)
    c = product.start_console()
    log = product.wait_log("upload deferred f1.bef")
    assert c.stop() == 0
    line = [ln for ln in log.splitlines() if "upload deferred" in ln][0]
    if status in ("drop", 100):
        # A 1xx is an interim answer on the wire: WinHTTP waits on for a final one, and the
        # exchange ends as no answer (status 0 with the transport's error).
        assert " http=0 winerr=" in line and not line.endswith(" winerr=0"), line
    else:
        assert line.endswith(f"upload deferred f1.bef http={status} winerr=0"), line
    assert len(upload_requests(server)) == 1
    assert len(server.requests_to(TOKEN_PATH)) == 1
    assert server.requests_to("/elsewhere") == []
    assert spool_names(product) == SPOOL[:2]
    assert not product.rejected.exists() or list(product.rejected.iterdir()) == []
    assert "rejected" not in log and "uploaded" not in log


def test_401_twice_refreshes_the_token_once_and_defers(product, server):
    setup_engine(product, server)
    fill_spool(product, SPOOL[:2])
    server.script("/api/befund", 401, {"error": "expired"})
    server.script("/api/befund", 401, {"error": "expired"})
    c = product.start_console()
    product.wait_log("upload deferred f1.bef http=401 winerr=0")
    assert c.stop() == 0
    first, second = upload_requests(server)
    assert len(server.requests_to(TOKEN_PATH)) == 2
    # The same body with the same boundary, under a fresh token.
    assert first.body == second.body
    assert first.header("Content-Type") == second.header("Content-Type")
    assert first.header("Authorization") != second.header("Authorization")
    assert spool_names(product) == SPOOL[:2]


def test_401_then_the_refreshed_token_uploads(product, server):
    setup_engine(product, server)
    fill_spool(product, SPOOL[:1])
    server.script("/api/befund", 401, {"error": "expired"})
    c = product.start_console()
    product.wait_log("uploaded f1.bef result=stored")
    assert c.stop() == 0
    first, second = upload_requests(server)
    assert len(server.requests_to(TOKEN_PATH)) == 2
    assert first.body == second.body and first.header("Content-Type") == second.header("Content-Type")
    check_upload(second, "f1.bef", SPOOL[0].encode())
    assert spool_names(product) == []


def test_without_a_token_nothing_is_sent_and_the_pass_defers(product, server):
    setup_engine(product, server)
    product.set_secret("wrong")
    fill_spool(product, SPOOL[:1])
    c = product.start_console()
    product.wait_log("upload deferred f1.bef http=0 winerr=5")
    assert c.stop() == 0
    assert upload_requests(server) == []
    assert spool_names(product) == SPOOL[:1]
