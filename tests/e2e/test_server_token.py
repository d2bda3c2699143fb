"""Token requests as the exe sends them: --verify-secret-file and the Token line of --check."""
import pytest

from refserver import RefServer
from refserver.core import TOKEN_PATH
from server_fixtures import free_port, verify

CLIENT, SECRET = "praxis-test", "s3cret"


def test_token_request_on_the_wire(product, refserver):
    # Secret files lose their white space, so the blank travels in the client id.
    client_id, secret = "Praxis 1/\u00e4", "a-Z_0.9~+/=&"
    refserver.clients[client_id] = secret
    r = verify(product, refserver.token_url, client_id, secret)
    assert (r.rc, r.stdout) == (0, b"")
    [req] = refserver.requests_to(TOKEN_PATH)
    assert req.request_line == f"POST {TOKEN_PATH} HTTP/1.1"
    assert req.body == (b"grant_type=client_credentials&client_id=Praxis%201%2F%C3%A4"
                        b"&client_secret=a-Z_0.9~%2B%2F%3D%26")
    assert req.header("Content-Type") == "application/x-www-form-urlencoded"
    assert req.header("Accept") == "application/json"
    assert req.header("User-Agent") == "Talvenor/0.1"
    assert req.header("Authorization") is None


@pytest.mark.parametrize("status, body, secret, rc", [
    (None, None, SECRET, 0),                       # the endpoint's own answer: token issued
    (200, {"token_type": "Bearer"}, SECRET, 3),    # 200 without a token
    (200, {"access_token": ""}, SECRET, 3),
    (None, None, "wrong", 2),                      # the endpoint's own 401 invalid_client
    (400, {"error": "invalid_request"}, SECRET, 2),
    (403, {"error": "forbidden"}, SECRET, 2),
    (500, "oops", SECRET, 3),
    (503, "", SECRET, 3),
])
def test_verify_exit_code_follows_the_answer(product, refserver, status, body, secret, rc):
    if status is not None:
        refserver.script(TOKEN_PATH, status, body)
    r = verify(product, refserver.token_url, CLIENT, secret)
    assert (r.rc, r.stdout, r.stderr) == (rc, b"", b"")
    assert len(refserver.requests_to(TOKEN_PATH)) == 1


def test_verify_without_a_listener_is_3(product):
    r = verify(product, f"http://127.0.0.1:{free_port()}{TOKEN_PATH}", CLIENT, SECRET)
    assert (r.rc, r.stdout) == (3, b"")


@pytest.mark.parametrize("status", [302, 307])
def test_redirected_token_request_is_not_followed(product, refserver, status):
    """The credentials must never travel on to wherever a Location header points."""
    with RefServer(clients={CLIENT: SECRET}) as elsewhere:
        refserver.script(TOKEN_PATH, status, b"", headers=[("Location", elsewhere.token_url)])
        r = verify(product, refserver.token_url, CLIENT, SECRET)
        assert r.rc == 3
        assert len(refserver.requests_to(TOKEN_PATH)) == 1
        assert elsewhere.requests == []


def test_verify_uses_token_url_from_settings_when_none_given(product, refserver):
    product.default_ini(server=refserver)
    r = verify(product, "", CLIENT, SECRET)
    assert r.rc == 0
    assert len(refserver.requests_to(TOKEN_PATH)) == 1


@pytest.mark.parametrize("stored, line", [(SECRET, b"Token:         ok\n"),
                                          ("wrong", b"Token:         FEHLER\n")])
def test_check_reports_the_token(product, refserver, stored, line):
    product.default_ini(server=refserver)
    product.set_secret(stored)
    r = product.run("--check")
    assert r.rc == 0
    assert r.stdout.endswith(line), r.stdout
    [req] = refserver.requests_to(TOKEN_PATH)
    assert req.body == f"grant_type=client_credentials&client_id={CLIENT}&client_secret={stored}".encode()
