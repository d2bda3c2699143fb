"""The user's named proxy from the prefix's Internet settings, against a real forward proxy.

Wine 8 sends the bare path to a proxy whose host name equals the target's, so the proxy is
addressed as 127.0.0.1 and the target as localhost."""
import pytest

from refserver.core import TOKEN_PATH
from server_fixtures import TinyProxy, clear_user_proxy, set_user_proxy, verify

CLIENT, SECRET = "praxis-test", "s3cret"


@pytest.fixture
def proxy(product, tmp_path):
    p = TinyProxy(tmp_path / "proxy")
    yield p
    clear_user_proxy(product.wine)
    p.stop()


def test_request_goes_through_the_named_proxy(product, refserver, proxy):
    set_user_proxy(product.wine, f"127.0.0.1:{proxy.port}")
    target = refserver.base_url("localhost") + TOKEN_PATH
    r = verify(product, target, CLIENT, SECRET)
    assert r.rc == 0, (r, proxy.log())
    assert proxy.requests() == [f"POST {target} HTTP/1.1"]
    [req] = refserver.requests_to(TOKEN_PATH)
    assert req.body == f"grant_type=client_credentials&client_id={CLIENT}&client_secret={SECRET}".encode()
    assert "tinyproxy" in (req.header("Via") or "")


def test_bypass_list_goes_direct(product, refserver, proxy):
    set_user_proxy(product.wine, f"127.0.0.1:{proxy.port}", "intranet.example;localhost")
    r = verify(product, refserver.base_url("localhost") + TOKEN_PATH, CLIENT, SECRET)
    assert r.rc == 0, (r, proxy.log())
    assert proxy.requests() == []
    [req] = refserver.requests_to(TOKEN_PATH)
    assert req.header("Via") is None


def test_a_dead_proxy_gives_no_answer(product, refserver, proxy):
    set_user_proxy(product.wine, f"127.0.0.1:{proxy.port}")
    proxy.stop()
    r = verify(product, refserver.base_url("localhost") + TOKEN_PATH, CLIENT, SECRET)
    assert r.rc == 3
    assert refserver.requests == []
