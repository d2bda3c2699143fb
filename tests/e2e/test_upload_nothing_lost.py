"""Nothing is lost: a stop in the middle of a drain, a process killed during a burst or between
the spool write and the ledger line, and a server that is down for a while."""
import time
from types import SimpleNamespace

from refserver import RefServer, befund
from refserver.core import TOKEN_PATH
from upload_support import (SECRET, arrived, server, setup_engine, spool_names,  # noqa: F401
                            upload_requests, wait_until, write_spool)


def contents(n, size=2048):
    return {f"n{i:02d}.bef": (f"findings {i}\r\n".encode() * (size // 12))[:size]
            for i in range(n)}


def slow_uploads(server, seconds):
    plain = befund.befund_endpoint

    def slow(s, request):
        time.sleep(seconds)
        return plain(s, request)
    server.routes["/api/befund"] = slow


def all_arrived_intact(server, files):
    got = arrived(server)
    return all(name in got and all(v == data for v in got[name]) for name, data in files.items())


def test_stop_in_the_middle_of_a_drain_loses_nothing(product, server):
    setup_engine(product, server)
    files = contents(12)
    for i, (name, data) in enumerate(files.items()):
        write_spool(product, f"17000000000{i:02d}_1690000000000_0000_{name}", data)
    slow_uploads(server, 0.3)
    c = product.start_console()
    wait_until(lambda: len(upload_requests(server)) >= 3, what="three uploads")
    assert c.stop() == 0
    done = len(upload_requests(server))
    assert 3 <= done < 12
    assert len(spool_names(product)) == 12 - done
    assert product.log_text().rstrip().endswith("service stopped")

    slow_uploads(server, 0)
    c = product.start_console()
    wait_until(lambda: spool_names(product) == [], what="spool drained")
    assert c.stop() == 0
    got = arrived(server)
    assert sorted(got) == sorted(files)
    for name, data in files.items():
        assert got[name] == [data], name   # each exactly once, byte for byte


def test_killed_during_a_burst_every_file_arrives_after_the_restart(product, server):
    setup_engine(product, server)
    files = contents(40, 8192)
    slow_uploads(server, 0.05)
    c = product.start_console()
    product.wait_log("service started")
    for name, data in files.items():
        (product.import_dir / name).write_bytes(data)
    wait_until(lambda: len(upload_requests(server)) >= 5, what="first uploads")
    c.kill()
    slow_uploads(server, 0)
    c = product.start_console()
    wait_until(lambda: all_arrived_intact(server, files), timeout=60, what="all files")
    wait_until(lambda: spool_names(product) == [], what="spool drained")
    assert c.stop() == 0


def test_spool_file_without_ledger_line_is_uploaded_and_the_source_captured_again(product, server):
    # An earlier run wrote the spool file and died before the ledger line.
    setup_engine(product, server)
    data = b"BEF half-recorded capture"
    (product.import_dir / "half.bef").write_bytes(data)
    write_spool(product, "1700000000000_1690000000000_0000_half.bef", data)
    c = product.start_console()
    wait_until(lambda: len(arrived(server).get("half.bef", [])) == 2, what="both copies")
    wait_until(lambda: spool_names(product) == [], what="spool drained")
    assert c.stop() == 0
    assert arrived(server)["half.bef"] == [data, data]


def test_server_down_for_a_while_backs_off_then_delivers_everything(product, tmp_path):
    # Reserve a port, then leave it closed while the engine starts.
    probe = RefServer(clients={"praxis-test": SECRET}).start()
    port, url = probe.port, probe.url
    probe.stop()
    up = RefServer(clients={"praxis-test": SECRET})
    up.store_dir = str(tmp_path)
    setup_engine(product, SimpleNamespace(url=url, token_url=url + TOKEN_PATH, clients=up.clients))
    files = contents(5)
    c = product.start_console()
    product.wait_log("service started")
    for name, data in files.items():
        (product.import_dir / name).write_bytes(data)
    product.wait_log("upload deferred n00.bef http=0 winerr=5")
    t1 = time.time()
    product.wait_log("upload deferred n00.bef http=0 winerr=5", count=2, timeout=15)
    t2 = time.time()
    assert 4.0 <= t2 - t1 <= 7.0, t2 - t1          # first back-off: 5 s
    up.start(port=port)
    try:
        wait_until(lambda: all_arrived_intact(up, files), timeout=20, what="all files")
        t3 = time.time()
        assert 8.0 <= t3 - t2 <= 13.0, t3 - t2     # second back-off: 10 s
        wait_until(lambda: spool_names(product) == [], what="spool drained")
        assert c.stop() == 0
        assert all(len(v) == 1 for v in arrived(up).values())
    finally:
        up.stop()
