"""HTTPS through the real TLS stack of the prefix: a throwaway CA trusted only there."""
import pytest

from refserver import RefServer
from refserver.core import TOKEN_PATH
from server_fixtures import Pki, trust_root, verify

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
