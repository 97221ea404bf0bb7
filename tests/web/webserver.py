"""Starts the real crestdoubler-web on a free port with its own data folder
and talks HTTP to it, for the web tests."""

import http.client
import json
import os
import re
import resource
import select
import signal
import subprocess
import time
import uuid

BUILD = os.environ.get("CRESTDOUBLER_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
WEB = os.path.join(BUILD, "crestdoubler-web")
COMMAND = os.path.join(BUILD, "crestdoubler")
START_LINE = re.compile(r"^crestdoubler-web: open http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})$")


class Server:
    def __init__(self, data, *arguments, threads=2, file_size_limit=None):
        self.data = str(data)

        def limit_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

        # To a file, which cannot fill up and stall the server as a pipe could.
        self.stderr_path = self.data + f".stderr-{uuid.uuid4().hex}"
        self.stderr = open(self.stderr_path, "w")
        self.process = subprocess.Popen(
            [WEB, "--port", "0", "--data", self.data, "--threads", str(threads), *arguments],
            stdout=subprocess.PIPE, stderr=self.stderr, text=True,
            preexec_fn=limit_files if file_size_limit else None)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        assert ready, "no start line within 30 s"
        self.line = self.process.stdout.readline().rstrip("\n")
        match = START_LINE.match(self.line)
        assert match, f"start line {self.line!r}, stderr {self.errors()}"
        self.port = int(match.group(1))
        self.token = match.group(2)
        self.host = f"127.0.0.1:{self.port}"

    def request(self, method, path, body=None, headers=None, auth=True, host=None, timeout=30):
        """(status, headers as a dict of lower-case names, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        all_headers = {"Host": self.host if host is None else host}
        if auth:
            all_headers["Authorization"] = f"Bearer {self.token}"
        all_headers.update(headers or {})
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for name, value in all_headers.items():
            connection.putheader(name, value)
        if body is not None:
            connection.putheader("Content-Length", str(len(body)))
        connection.endheaders(body)
        answer = connection.getresponse()
        data = answer.read()
        connection.close()
        return answer.status, {name.lower(): value for name, value in answer.getheaders()}, data

    def json(self, method, path, **options):
        status, _, data = self.request(method, path, **options)
        return status, json.loads(data) if data else None

    def upload(self, path, name=None, fields=None, **options):
        body, content_type = multipart(path, os.path.basename(path) if name is None else name, fields or {})
        headers = {"Content-Type": content_type}
        headers.update(options.pop("headers", {}))
        return self.json("POST", "/api/jobs", body=body, headers=headers, **options)

    def wait(self, job_id, states=("done", "failed", "cancelled"), timeout=120, seen=None):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            status, job = self.json("GET", f"/api/jobs/{job_id}")
            assert status == 200, job
            if seen is not None:
                seen.append(job)
            if job["state"] in states:
                return job
            time.sleep(0.05)
        raise AssertionError(f"job {job_id} still {job['state']} after {timeout} s")

    def result(self, job_id):
        status, headers, data = self.request("GET", f"/api/jobs/{job_id}/result")
        assert status == 200, data
        return headers, data

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()
        self.close_pipes()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)
        self.close_pipes()

    def errors(self):
        with open(self.stderr_path) as log:
            return log.read()

    def close_pipes(self):
        self.process.stdout.close()
        self.stderr.close()
        # A sanitizer build reports what it found here.
        errors = self.errors()
        assert "Sanitizer" not in errors and "runtime error" not in errors, errors

    def memory_kib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0


def multipart(path, name, fields):
    boundary = uuid.uuid4().hex
    parts = []
    for key, value in fields.items():
        parts.append(f"--{boundary}\r\nContent-Disposition: form-data; name=\"{key}\"\r\n\r\n{value}\r\n".encode())
    with open(path, "rb") as source:
        contents = source.read()
    quoted = name.replace("\\", "\\\\").replace('"', '\\"')
    parts.append(f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; filename=\"{quoted}\"\r\n"
                 "Content-Type: application/octet-stream\r\n\r\n".encode() + contents + b"\r\n")
    parts.append(f"--{boundary}--\r\n".encode())
    return b"".join(parts), f"multipart/form-data; boundary={boundary}"


def ffmpeg(*arguments):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", *arguments], check=True)


def make_picture(path, size="96x64", source="testsrc2"):
    ffmpeg("-f", "lavfi", "-i", f"{source}=size={size}", "-frames:v", "1", str(path))
    return str(path)


def make_film(path, size="96x64", seconds=1, rate=10):
    ffmpeg("-f", "lavfi", "-i", f"testsrc=size={size}:rate={rate}:duration={seconds}",
           "-f", "lavfi", "-i", f"sine=duration={seconds}", "-shortest",
           "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", str(path))
    return str(path)


def command_bytes(source, output, *arguments, threads=2):
    subprocess.run([COMMAND, "--threads", str(threads), *arguments, str(source), str(output)], check=True)
    with open(output, "rb") as result:
        return result.read()
