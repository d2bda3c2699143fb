def test_unknown_option_is_refused(product):
    r = product.run("--frobnicate")
    assert (r.rc, r.stdout) == (1, b"Unbekannte Option.\n")


def test_console_without_secret_stops_at_once(product):
    product.default_ini()
    c = product.start_console()
    assert c.proc.wait(timeout=30) == 0
    out = c.stdout()
    assert b"no client secret configured\r\n" in out
