"""HTTPS through the real TLS stack of the prefix: a throwaway CA trusted only there."""
import pytest

from refserver import RefServer
from refserver.core import TOKEN_PATH
from server_fixtures import Nginx, Pki, trust_root, verify

CLIENT, SECRET = "praxis-test", "s3cret"


@pytest.fixture
def pki(tmp_path):
    return Pki(tmp_path / "pki")


@pytest.fixture
def trusted(product, pki):
    trust_root(product, pki)
    yield pki
    trust_root(product, pki, add=False)


def test_https_token_with_trusted_ca(product, trusted):
    with RefServer(clients={CLIENT: SECRET}, certfile=trusted.cert, keyfile=trusted.key) as server:
        for host in ("127.0.0.1", "localhost"):
            r = verify(product, server.base_url(host) + TOKEN_PATH, CLIENT, SECRET)
            assert r.rc == 0, (host, r)
        assert len(server.requests_to(TOKEN_PATH)) == 2


def test_https_untrusted_ca_gets_no_answer(product, pki):
    with RefServer(clients={CLIENT: SECRET}, certfile=pki.cert, keyfile=pki.key) as server:
        r = verify(product, server.token_url, CLIENT, SECRET)
        assert (r.rc, r.stdout) == (3, b"")
        product.default_ini(server=server)
        product.set_secret(SECRET)
        r = product.run("--check")
        assert r.rc == 0 and r.stdout.endswith(b"Token:         FEHLER\n"), r
        assert server.requests == []


WINE8_NO_TLS13 = pytest.mark.xfail(
    reason="Wine 8's winhttp accepts WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 but hands schannel only TLS 1.2",
    strict=False)


@pytest.mark.parametrize("offered", ["TLSv1.2", "TLSv1.2 TLSv1.3",
                                     pytest.param("TLSv1.3", marks=WINE8_NO_TLS13)])
def test_nginx_terminates_tls_in_front_of_the_reference_server(product, trusted, refserver, tmp_path, offered):
    front = Nginx(tmp_path / "nginx", trusted, refserver.port, protocols=offered)
    try:
        r = verify(product, front.url() + TOKEN_PATH, "praxis-test", "s3cret")
        assert r.rc == 0, (r, front.log())
        [line] = front.log().splitlines()
        assert line.startswith(f"POST {TOKEN_PATH} HTTP/1.1 200 ")
        assert line.rsplit(" ", 1)[1] in offered.split()
        [req] = refserver.requests_to(TOKEN_PATH)
        assert req.body == b"grant_type=client_credentials&client_id=praxis-test&client_secret=s3cret"
    finally:
        front.stop()
