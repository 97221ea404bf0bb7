"""The HTTP API of crestdoubler-web through a real client against the real
binary: results are the command's bytes, and the queue survives kill -9."""

import os
import subprocess

import pytest

from webserver import Server, command_bytes, make_film, make_picture


@pytest.fixture
def server(tmp_path):
    running = Server(tmp_path / "data")
    yield running
    running.stop()


@pytest.fixture(scope="module")
def media(tmp_path_factory):
    folder = tmp_path_factory.mktemp("media")
    return {
        "picture": make_picture(folder / "scene.png"),
        "photo": make_picture(folder / "photo.jpg", size="80x60", source="mandelbrot"),
        "film": make_film(folder / "clip.mp4"),
        "long film": make_film(folder / "long.mp4", size="480x320", seconds=3, rate=25),
    }


@pytest.mark.parametrize("source, fields, extension", [
    ("picture", {}, "png"),
    ("photo", {"quality": "70"}, "jpg"),
    ("picture", {"format": "webp"}, "webp"),
    ("film", {"format": "mp4"}, "mp4"),
    ("film", {}, "mkv"),
    ("film", {"format": "mkv", "crf": "30", "preset": "veryfast"}, "mkv"),
    ("picture", {"scale": "4"}, "png"),
    ("photo", {"width": "250"}, "jpg"),
    ("film", {"format": "mp4", "scale": "4"}, "mp4"),
])
def test_a_result_is_the_commands_bytes(server, media, tmp_path, source, fields, extension):
    status, job = server.upload(media[source], fields=fields)
    assert status == 201, job
    assert job["state"] in ("queued", "running") and job["kind"] == ("film" if "film" in source else "picture")
    seen = []
    finished = server.wait(job["id"], seen=seen)
    assert finished["state"] == "done", finished
    assert finished["progress"] == 1 and finished["done"] == finished["total"] > 0
    assert all(a["progress"] <= b["progress"] for a, b in zip(seen, seen[1:]))
    headers, data = server.result(job["id"])
    stem = os.path.splitext(os.path.basename(media[source]))[0]
    size = f"{fields['width']}w" if "width" in fields else f"{fields.get('scale', '2')}x"
    assert f'filename="{stem}-{size}.{extension}"' in headers["content-disposition"]
    arguments = [f"--{key}={value}" for key, value in fields.items() if key != "format"]
    expected = command_bytes(media[source], tmp_path / f"command.{extension}", *arguments)
    assert data == expected
    status, _, source_bytes = server.request("GET", f"/api/jobs/{job['id']}/source")
    assert status == 200 and source_bytes == open(media[source], "rb").read()


def test_the_result_is_409_until_done_and_ranges_are_served(server, media):
    _, running = server.upload(media["long film"], fields={"format": "mp4"})
    _, queued = server.upload(media["picture"])
    status, answer = server.json("GET", f"/api/jobs/{queued['id']}/result")
    assert status == 409 and "not done" in answer["error"]
    assert server.wait(queued["id"], timeout=180)["state"] == "done"
    _, whole = server.result(queued["id"])
    status, headers, part = server.request("GET", f"/api/jobs/{queued['id']}/result", headers={"Range": "bytes=8-15"})
    assert status == 206 and part == whole[8:16] and headers["content-range"] == f"bytes 8-15/{len(whole)}"
    status, jobs = server.json("GET", "/api/jobs")
    assert [job["id"] for job in jobs] == [running["id"], queued["id"]]  # in the order they came
    assert jobs[0]["state"] == "done"  # run before the later one


def test_cancel_and_remove(server, media):
    _, film = server.upload(media["long film"])
    _, waiting = server.upload(media["picture"])
    _, later = server.upload(media["picture"])
    # A queued job is removed at once, with its files.
    assert server.request("DELETE", f"/api/jobs/{waiting['id']}")[0] == 204
    assert server.json("GET", f"/api/jobs/{waiting['id']}")[0] == 404
    assert not os.path.exists(os.path.join(server.data, "jobs", waiting["id"]))
    running = server.wait(film["id"], states=("running",))
    while running["done"] == 0:
        running = server.wait(film["id"], states=("running",))
    status, answer = server.json("POST", f"/api/jobs/{film['id']}/cancel")
    assert status == 200
    cancelled = server.wait(film["id"])
    assert cancelled["state"] == "cancelled"
    assert server.json("GET", f"/api/jobs/{film['id']}/result")[0] == 409
    assert server.request("GET", f"/api/jobs/{film['id']}/source")[0] == 200
    # Nothing partial is left beside the source.
    assert os.listdir(os.path.join(server.data, "jobs", film["id"])) == ["source.mp4"]
    assert server.wait(later["id"])["state"] == "done"
    for job in (film, later):
        assert server.request("DELETE", f"/api/jobs/{job['id']}")[0] == 204
    assert server.json("GET", "/api/jobs") == (200, [])
    assert os.listdir(os.path.join(server.data, "jobs")) == []


def test_removing_a_running_job_stops_it_and_leaves_nothing(server, media):
    _, film = server.upload(media["long film"])
    server.wait(film["id"], states=("running",))
    assert server.request("DELETE", f"/api/jobs/{film['id']}")[0] == 204
    assert server.json("GET", f"/api/jobs/{film['id']}")[0] == 404
    _, picture = server.upload(media["picture"])
    assert server.wait(picture["id"])["state"] == "done"  # the worker went on
    assert os.listdir(os.path.join(server.data, "jobs")) == [picture["id"]]


def test_a_restart_after_kill_finishes_queued_and_running_jobs(tmp_path, media):
    data = tmp_path / "data"
    first = Server(data)
    _, finished = first.upload(media["picture"])
    first.wait(finished["id"])
    _, running = first.upload(media["long film"], fields={"format": "mp4"})
    _, queued = first.upload(media["photo"])
    first.wait(running["id"], states=("running",))
    first.kill()

    second = Server(data)
    try:
        assert second.token == first.token  # kept in the data folder
        status, jobs = second.json("GET", "/api/jobs")
        assert [job["id"] for job in jobs] == [finished["id"], running["id"], queued["id"]]
        assert jobs[0]["state"] == "done"
        for job, extension, arguments in [(finished, "png", []), (running, "mp4", []), (queued, "jpg", [])]:
            assert second.wait(job["id"], timeout=180)["state"] == "done"
            source = {finished["id"]: media["picture"], running["id"]: media["long film"], queued["id"]: media["photo"]}[job["id"]]
            assert second.result(job["id"])[1] == command_bytes(source, tmp_path / f"command.{extension}", *arguments)
    finally:
        second.stop()

    renewed = Server(data, "--new-token")
    try:
        assert renewed.token != first.token
        assert renewed.request("GET", "/api/jobs", headers={"Authorization": f"Bearer {first.token}"}, auth=False)[0] == 401
        assert oct(os.stat(data / "token").st_mode & 0o777) == "0o600"
    finally:
        renewed.stop()


def test_a_corrupt_picture_fails_in_the_commands_words(server, tmp_path):
    corrupt = tmp_path / "broken.png"
    corrupt.write_bytes(b"\x89PNG\r\n\x1a\n" + b"\0" * 200)
    status, job = server.upload(str(corrupt))
    assert status == 201
    failed = server.wait(job["id"])
    assert failed["state"] == "failed"
    command = subprocess.run([os.path.join(os.path.dirname(server.process.args[0]), "crestdoubler"), str(corrupt),
                              str(tmp_path / "out.png")], capture_output=True, text=True)
    assert command.returncode == 1
    words = command.stderr.strip().removeprefix("crestdoubler: ")
    words = words.replace(str(corrupt), "broken.png").replace(str(tmp_path / "out.png"), "broken-2x.png")
    assert failed["error"] == words
    assert server.data not in failed["error"]


def test_a_full_disk_fails_the_job_and_leaves_nothing(tmp_path):
    # A file size limit makes writes fail as a full disk does.
    picture = make_picture(tmp_path / "fractal.png", size="320x240", source="mandelbrot")
    limit = os.path.getsize(picture) + 32768
    server = Server(tmp_path / "data", file_size_limit=limit)
    try:
        status, job = server.upload(picture)
        assert status == 201
        failed = server.wait(job["id"])
        assert failed["state"] == "failed" and "File too large" in failed["error"], failed
        assert "fractal-2x.png" in failed["error"] and server.data not in failed["error"]
        assert os.listdir(os.path.join(server.data, "jobs", job["id"])) == ["source.png"]
        large = tmp_path / "large.png"
        large.write_bytes(os.urandom(limit + 1))
        status, answer = server.upload(str(large))
        assert status == 500 and "File too large" in answer["error"], answer
        assert os.listdir(os.path.join(server.data, "uploads")) == []
        assert len(server.json("GET", "/api/jobs")[1]) == 1
    finally:
        server.stop()
