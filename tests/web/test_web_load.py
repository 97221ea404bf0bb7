"""crestdoubler-web under load on loopback, bounded in count and time: 100
slow half-open connections stay open and 40 clients poll while a film is
enlarged; every request is answered, and a normal one within a second."""

import socket
import threading
import time

import pytest

from webserver import Server, make_film

HALF_OPEN = 100
POLLERS = 40
POLLS_EACH = 15


@pytest.fixture
def server(tmp_path):
    running = Server(tmp_path / "data")
    yield running
    running.stop()


def test_slow_and_many_clients_do_not_starve_the_others(server, tmp_path):
    film = make_film(tmp_path / "large.mp4", size="480x320", seconds=4, rate=25)
    _, job = server.upload(film)
    server.wait(job["id"], states=("running",))
    memory_before = server.memory_kib()

    # Connections that send half a request and then nothing.
    half_open = []
    for _ in range(HALF_OPEN):
        connection = socket.create_connection(("127.0.0.1", server.port), timeout=5)
        connection.sendall(f"GET /api/jobs HTTP/1.1\r\nHost: {server.host}\r\nAuthorization: Bea".encode())
        half_open.append(connection)

    latencies = []
    failures = []
    lock = threading.Lock()

    def poll():
        for _ in range(POLLS_EACH):
            start = time.monotonic()
            try:
                status, _, _ = server.request("GET", f"/api/jobs/{job['id']}", timeout=10)
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
    # A normal request while all of that goes on.
    start = time.monotonic()
    status, _, _ = server.request("GET", "/", timeout=5)
    normal = time.monotonic() - start
    for thread in pollers:
        thread.join(timeout=60)

    assert failures == []
    assert len(latencies) == POLLERS * POLLS_EACH
    assert status == 200 and normal < 1.0, normal
    latencies.sort()
    assert latencies[len(latencies) // 2] < 1.0, latencies[len(latencies) // 2]
    # Still running: the load was served while the job worked.
    assert server.json("GET", f"/api/jobs/{job['id']}")[1]["state"] == "running"
    # Memory bounded: the connections cost kilobytes each, not megabytes.
    assert server.memory_kib() - memory_before < 64 * 1024
    for connection in half_open:
        connection.close()
    assert server.request("GET", "/api/jobs")[0] == 200
    server.request("DELETE", f"/api/jobs/{job['id']}")
