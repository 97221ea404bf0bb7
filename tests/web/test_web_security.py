"""Every rule that keeps crestdoubler-web to its user, one table each."""

import os
import select
import socket
import stat
import subprocess
import time

import pytest

from webserver import WEB, Server, make_picture, multipart


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    running = Server(tmp_path_factory.mktemp("secure") / "data", "--max-upload", "20000")
    yield running
    running.stop()


@pytest.fixture(scope="module")
def picture(tmp_path_factory):
    return make_picture(tmp_path_factory.mktemp("pictures") / "small.png", size="32x24")


def cookie(server, token):
    return {"Cookie": f"crestdoubler-web-{server.port}={token}"}


@pytest.mark.parametrize("case, headers, auth, path, wanted", [
    ("no token", {}, False, "/api/jobs", 401),
    ("no token, page", {}, False, "/", 401),
    ("no token, script", {}, False, "/page.js", 401),
    ("wrong bearer", {"Authorization": "Bearer " + "0" * 32}, False, "/api/jobs", 401),
    ("short bearer", {"Authorization": "Bearer 0"}, False, "/api/jobs", 401),
    ("basic instead of bearer", {"Authorization": "Basic abc"}, False, "/api/jobs", 401),
    ("wrong cookie", "wrong cookie", False, "/api/jobs", 401),
    ("cookie of another port", "other port", False, "/api/jobs", 401),
    ("wrong token in the address", {}, False, "/?token=" + "f" * 32, 401),
    ("bearer", {}, True, "/api/jobs", 200),
    ("cookie", "right cookie", False, "/api/jobs", 200),
    ("cookie, page", "right cookie", False, "/", 200),
])
def test_the_token_is_needed(server, case, headers, auth, path, wanted):
    if headers == "wrong cookie":
        headers = cookie(server, "1" * 32)
    elif headers == "right cookie":
        headers = cookie(server, server.token)
    elif headers == "other port":
        headers = {"Cookie": f"crestdoubler-web-{server.port + 1}={server.token}"}
    status, _, body = server.request("GET", path, headers=headers, auth=auth)
    assert status == wanted, (case, body)
    if wanted == 401:
        assert server.token.encode() not in body


def test_the_token_in_the_address_becomes_a_cookie(server):
    status, headers, _ = server.request("GET", f"/?token={server.token}", auth=False)
    assert status == 303 and headers["location"] == "/"
    assert headers["set-cookie"] == f"crestdoubler-web-{server.port}={server.token}; HttpOnly; SameSite=Strict; Path=/"


@pytest.mark.parametrize("host, wanted", [
    ("evil.example:{port}", 421),
    ("evil.example", 421),
    ("127.0.0.1", 421),             # without the port
    ("127.0.0.1:{other}", 421),
    ("127.0.0.1.evil.example:{port}", 421),
    ("", 421),
    ("127.0.0.1:{port}", 200),
    ("localhost:{port}", 200),
    ("LocalHost:{port}", 200),
    ("[::1]:{port}", 200),
])
def test_the_host_must_name_the_server(server, host, wanted):
    name = host.format(port=server.port, other=server.port + 1)
    status, _, _ = server.request("GET", "/api/jobs", host=name)
    assert status == wanted, name


@pytest.mark.parametrize("method, origin, wanted", [
    ("POST", "http://evil.example", 403),
    ("POST", "http://127.0.0.1:{other}", 403),
    ("POST", "null", 403),
    ("POST", "https://127.0.0.1:{port}", 403),
    ("DELETE", "http://evil.example", 403),
    ("DELETE", "http://localhost:{port}.evil.example", 403),
    ("POST", "http://127.0.0.1:{port}", 201),
    ("POST", "http://localhost:{port}", 201),
    ("POST", None, 201),             # scripts send none
    ("DELETE", "http://127.0.0.1:{port}", 204),
])
def test_changes_from_other_sites_are_refused(server, picture, method, origin, wanted):
    headers = {} if origin is None else {"Origin": origin.format(port=server.port, other=server.port + 1)}
    if method == "POST":
        status, answer = server.upload(picture, headers=headers)
    else:
        _, job = server.upload(picture)
        status, _, answer = server.request("DELETE", f"/api/jobs/{job['id']}", headers=headers)
    assert status == wanted, answer


@pytest.mark.parametrize("uploaded, shown", [
    ("../../escaped.png", "escaped.png"),
    ("..\\..\\escaped.png", "escaped.png"),
    ("/etc/escaped.png", "escaped.png"),
    ("sub/../../escaped.png", "escaped.png"),
    ("bell\x07and\x1bescape.png", "bellandescape.png"),
    ("<img src=x onerror=alert(1)>.png", "<img src=x onerror=alert(1)>.png"),
    ("  spaced name  .png", "  spaced name  .png"),
])
def test_names_never_reach_a_path(server, picture, uploaded, shown):
    status, job = server.upload(picture, name=uploaded)
    assert status == 201, job
    assert job["name"] == shown
    listing = server.json("GET", f"/api/jobs/{job['id']}")[1]
    assert listing["name"] == shown
    folder = os.path.join(server.data, "jobs", job["id"])
    assert "source.png" in os.listdir(folder)
    assert all(name.startswith(("source.", "result.", ".result.part-")) for name in os.listdir(folder))
    for root, _, files in os.walk(os.path.dirname(server.data)):
        assert "escaped.png" not in files


@pytest.mark.parametrize("uploaded, wanted", [
    ("..", 400),
    ("", 400),
    ("noextension", 400),
    ("notes.txt", 400),
    ("picture.p%ng", 400),
])
def test_names_without_a_format_are_refused(server, picture, uploaded, wanted):
    status, answer = server.upload(picture, name=uploaded)
    assert status == wanted, answer
    assert isinstance(answer["error"], str) and answer["error"]


@pytest.mark.parametrize("fields, words", [
    ({"scale": "3"}, "scale needs 2, 4 or 8"),
    ({"scale": "4", "width": "400"}, "scale and width both say"),
    ({"width": "10"}, "is smaller than"),
    ({"quality": "0"}, "quality needs a whole number from 1 to 100"),
])
def test_settings_out_of_range_are_refused_in_words(server, picture, fields, words):
    status, answer = server.upload(picture, fields=fields)
    if status == 201:  # a size is checked once the picture is opened
        answer = server.wait(answer["id"])
        assert answer["state"] == "failed", answer
    else:
        assert status == 400, answer
    assert words in answer["error"], answer


def leftovers(server):
    return os.listdir(os.path.join(server.data, "uploads"))


def job_count(server):
    return len(server.json("GET", "/api/jobs")[1])


def raw_exchange(server, head, body, close_early=False):
    """Sends head and body on a socket; the answer's status line, or None."""
    connection = socket.create_connection(("127.0.0.1", server.port), timeout=10)
    connection.sendall(head + body)
    if close_early:
        connection.close()
        return None
    answer = b""
    while b"\r\n" not in answer:
        chunk = connection.recv(4096)
        if not chunk:
            break
        answer += chunk
    connection.close()
    return answer.split(b"\r\n")[0].decode()


def upload_head(server, content_type, length=None, chunked=False):
    lines = [f"POST /api/jobs HTTP/1.1", f"Host: {server.host}", f"Authorization: Bearer {server.token}",
             f"Content-Type: {content_type}"]
    lines.append("Transfer-Encoding: chunked" if chunked else f"Content-Length: {length}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def chunked(body):
    return b"".join(f"{len(body[i:i + 4096]):x}\r\n".encode() + body[i:i + 4096] + b"\r\n"
                    for i in range(0, len(body), 4096)) + b"0\r\n\r\n"


@pytest.mark.parametrize("case", ["far too long", "too long", "too long, chunked", "truncated", "no last boundary",
                                  "not multipart"])
def test_bad_uploads_leave_nothing(server, tmp_path, case):
    big = tmp_path / "big.png"
    big.write_bytes(os.urandom(200000 if case == "far too long" else 30000))
    small = tmp_path / "small.png"
    small.write_bytes(os.urandom(5000))
    jobs_before = job_count(server)
    body, content_type = multipart(str(big if "too long" in case else small), "x.png", {})
    if case in ("far too long", "too long"):  # refused by its length before it is read, or as it comes
        status = raw_exchange(server, upload_head(server, content_type, len(body)), body)
        assert " 413 " in status
    elif case == "too long, chunked":
        status = raw_exchange(server, upload_head(server, content_type, chunked=True), chunked(body))
        assert " 413 " in status
    elif case == "truncated":
        raw_exchange(server, upload_head(server, content_type, len(body)), body[: len(body) // 2], close_early=True)
    elif case == "no last boundary":
        cut = body[: body.rindex(b"--" + content_type.split("=")[1].encode())]
        status = raw_exchange(server, upload_head(server, content_type, len(cut)), cut)
        assert " 400 " in status
    else:
        status = raw_exchange(server, upload_head(server, "application/octet-stream", len(body)), body)
        assert " 400 " in status
    deadline = time.monotonic() + 5
    while leftovers(server) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert leftovers(server) == []
    assert job_count(server) == jobs_before


@pytest.mark.parametrize("path, api", [("/", False), ("/page.js", False), ("/page.css", False), ("/api/jobs", True),
                                        ("/api/jobs/0123456789abcdef", True), ("/nowhere", False)])
@pytest.mark.parametrize("auth", [True, False])
def test_every_answer_carries_the_security_headers(server, path, api, auth):
    status, headers, _ = server.request("GET", path, auth=auth)
    policy = headers["content-security-policy"]
    assert "script-src 'self'" in policy and "unsafe-inline" not in policy and "frame-ancestors 'none'" in policy
    assert "default-src 'none'" in policy
    assert headers["x-content-type-options"] == "nosniff"
    assert headers["referrer-policy"] == "no-referrer"
    assert headers["x-frame-options"] == "DENY"
    assert "access-control-allow-origin" not in headers
    if api:
        assert headers["cache-control"] == "no-store"
        assert headers["content-type"] == "application/json"


def test_the_page_has_no_inline_script(server):
    status, _, page = server.request("GET", "/")
    assert status == 200
    assert b"<script src=\"/page.js\"" in page
    assert b"<script>" not in page and b"onload=" not in page and b"onclick=" not in page and b"style=" not in page


def test_the_data_folder_is_private(server):
    assert stat.S_IMODE(os.stat(server.data).st_mode) == 0o700
    assert stat.S_IMODE(os.stat(os.path.join(server.data, "token")).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(os.path.join(server.data, "journal.json")).st_mode) == 0o600


def test_oversized_headers_are_refused_and_the_server_goes_on(server):
    status, _, _ = server.request("GET", "/api/jobs", headers={"X-Padding": "a" * 100000})
    assert status in (413, 431)
    assert server.request("GET", "/api/jobs")[0] == 200


@pytest.mark.parametrize("bind, warned", [("0.0.0.0", True), ("127.0.0.1", False)])
def test_a_bind_beyond_loopback_is_warned_about(tmp_path, bind, warned):
    process = subprocess.Popen([WEB, "--bind", bind, "--port", "0", "--data", str(tmp_path / "data")],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert select.select([process.stdout], [], [], 30)[0]
        assert process.stdout.readline().startswith("crestdoubler-web: open http://127.0.0.1:")
        process.terminate()
        warning = process.communicate(timeout=30)[1]
        assert ("anyone who has the URL" in warning) == warned
    finally:
        if process.poll() is None:
            process.kill()
