"""Token requests as the exe sends them: --verify-secret-file and the Token line of --check."""
import pytest

from refserver.core import TOKEN_PATH
from server_fixtures import verify


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
