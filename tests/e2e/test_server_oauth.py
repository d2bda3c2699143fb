"""The token client against a real OAuth2 server (django-oauth-toolkit) started on loopback."""
import pytest

from server_fixtures import DjangoOAuth, verify

CLIENT, SECRET = "praxis-dot", "dot-s3cret-+/="


@pytest.fixture(scope="module")
def oauth(tmp_path_factory):
    server = DjangoOAuth(tmp_path_factory.mktemp("oauth"), CLIENT, SECRET)
    yield server
    server.stop()


@pytest.mark.parametrize("client_id, secret, rc", [
    (CLIENT, SECRET, 0),
    (CLIENT, "wrong", 2),
    ("unknown", SECRET, 2),
])
def test_verify_secret_against_a_real_oauth_server(product, oauth, client_id, secret, rc):
    r = verify(product, oauth.token_url, client_id, secret)
    assert (r.rc, r.stdout) == (rc, b""), oauth.log()[-2000:]


@pytest.mark.parametrize("stored, line", [(SECRET, b"Token:         ok\n"),
                                          ("wrong", b"Token:         FEHLER\n")])
def test_check_gets_its_token_from_a_real_oauth_server(product, oauth, stored, line):
    product.write_ini({"import": {"dir": product.wine.winpath(product.import_dir)},
                       "server": {"url": "http://127.0.0.1:9", "token_url": oauth.token_url,
                                  "client_id": CLIENT}})
    product.set_secret(stored)
    r = product.run("--check")
    assert r.rc == 0
    assert r.stdout.endswith(line), (r.stdout, oauth.log()[-2000:])
