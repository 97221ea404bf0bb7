"""crestdoubler-web under load on loopback, bounded in count and time: 100
slow half-open connections stay open and 40 clients poll while a film is
enlarged; every request is answered, and a normal one within a second."""

import socket
import threading
import time

import pytest

from webserver import Server, make_film, make_picture

HALF_OPEN = 100
POLLERS = 40
POLLS_EACH = 15


@pytest.fixture
def server(tmp_path):
    running = Server(tmp_path / "data")
    yield running
    running.stop()


def under_load(server, path, during):
    """Runs during() with the half-open connections open and the pollers
    polling path; returns (what during returned, poll latencies, failures)."""
    half_open = []
    for _ in range(HALF_OPEN):
        connection = socket.create_connection(("127.0.0.1", server.port), timeout=5)
        connection.sendall(f"GET /api/jobs HTTP/1.1\r\nHost: {server.host}\r\nAuthorization: Bea".encode())
        half_open.append(connection)
    latencies, failures = [], []
    lock = threading.Lock()

    def poll():
        for _ in range(POLLS_EACH):
            start = time.monotonic()
            try:
                status = server.request("GET", path, timeout=10)[0]
            except OSError as error:
                status = repr(error)
            with lock:
                latencies.append(time.monotonic() - start)
                if status != 200:
                    failures.append(status)
            time.sleep(0.02)

    pollers = [threading.Thread(target=poll) for _ in range(POLLERS)]
    for thread in pollers:
        thread.start()
    outcome = during()
    for thread in pollers:
        thread.join(timeout=60)
    for connection in half_open:
        connection.close()
    return outcome, sorted(latencies), failures


def timed_request(server):
    start = time.monotonic()
    status = server.request("GET", "/", timeout=5)[0]
    return status, time.monotonic() - start


def test_slow_and_many_clients_do_not_starve_the_others(server, tmp_path):
    # The connections cost the server kilobytes each: measured idle, with the module loaded.
    _, warm = server.upload(make_picture(tmp_path / "warm.png"))
    server.wait(warm["id"])
    idle = server.memory_kib()
    loaded, _, failures = under_load(server, "/api/jobs", server.memory_kib)
    assert failures == []
    assert loaded - idle < 16 * 1024, (idle, loaded)
    print(f"memory under load: {idle} KiB idle, {loaded} KiB with the connections")

    film = make_film(tmp_path / "large.mp4", size="480x320", seconds=4, rate=25)
    _, job = server.upload(film)
    server.wait(job["id"], states=("running",))
    (status, normal), latencies, failures = under_load(server, f"/api/jobs/{job['id']}", lambda: timed_request(server))
    assert failures == []
    assert len(latencies) == POLLERS * POLLS_EACH
    assert status == 200 and normal < 1.0, normal
    assert latencies[len(latencies) // 2] < 1.0 and latencies[-1] < 5.0, (latencies[len(latencies) // 2], latencies[-1])
    print(f"normal request {normal * 1000:.1f} ms; polls: median {latencies[len(latencies) // 2] * 1000:.1f} ms, "
          f"slowest {latencies[-1] * 1000:.1f} ms")
    # The load was served while the job worked, and the server still answers.
    assert server.json("GET", f"/api/jobs/{job['id']}")[1]["state"] == "running"
    assert server.request("GET", "/api/jobs")[0] == 200
    server.request("DELETE", f"/api/jobs/{job['id']}")
