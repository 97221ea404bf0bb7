// The page of crestdoubler-web: uploads, the queue, and the before/after
// comparison. Every string from the server or a file name is set as text,
// never as markup.
"use strict";

const MEDIA_EXTENSIONS = new Set([
  "png", "jpg", "jpeg", "webp", "tif", "tiff", "gif", "avif", "heic", "jxl", "bmp", "ppm", "pgm", "pnm", "pfm", "exr",
  "mkv", "mp4", "m4v", "mov", "webm", "avi", "ts", "m2ts", "mts", "mpg", "mpeg", "nut", "flv", "y4m", "ogv"]);
const FILM_EXTENSIONS = new Set(["mkv", "mp4", "m4v", "mov", "webm", "avi", "ts", "m2ts", "mts", "mpg", "mpeg", "nut", "flv", "y4m", "ogv"]);
const POLL_MS = 700;

const $ = (id) => document.getElementById(id);
const extensionOf = (name) => { const dot = name.lastIndexOf("."); return dot > 0 ? name.slice(dot + 1).toLowerCase() : ""; };

// ---- Uploads ----

const uploadQueue = [];
let uploading = false;

function settingsFor(file) {
  const form = new FormData();
  form.append("file", file, file.name);
  if ($("scale").value === "width") {
    if ($("target-width").value.trim()) form.append("width", $("target-width").value.trim());
  } else if ($("scale").value !== "2") {
    form.append("scale", $("scale").value);
  }
  if (FILM_EXTENSIONS.has(extensionOf(file.name))) {
    form.append("format", $("film-format").value);
    for (const key of ["codec", "crf", "preset"]) if ($(key).value.trim()) form.append(key, $(key).value.trim());
  } else {
    if ($("picture-format").value) form.append("format", $("picture-format").value);
    if ($("quality").value.trim()) form.append("quality", $("quality").value.trim());
  }
  return form;
}

function showUploadStatus(text, isError) {
  const status = $("upload-status");
  status.textContent = text;
  status.classList.toggle("error", Boolean(isError));
}

function enqueueUploads(files) {
  for (const file of files) uploadQueue.push(file);
  if (!uploading) uploadNext();
}

function uploadNext() {
  const file = uploadQueue.shift();
  if (!file) { uploading = false; return; }
  uploading = true;
  const request = new XMLHttpRequest();
  request.open("POST", "/api/jobs");
  request.upload.onprogress = (event) => {
    if (event.lengthComputable) showUploadStatus(`Uploading ${file.name}: ${Math.round(100 * event.loaded / event.total)}%`);
  };
  request.onload = () => {
    if (request.status === 201) {
      showUploadStatus(uploadQueue.length ? `${uploadQueue.length} more to upload` : "");
    } else {
      showUploadStatus(`${file.name}: ${errorText(request.responseText, request.status)}`, true);
    }
    refresh();
    uploadNext();
  };
  request.onerror = () => { showUploadStatus(`${file.name}: the upload failed`, true); uploadNext(); };
  showUploadStatus(`Uploading ${file.name}`);
  request.send(settingsFor(file));
}

function errorText(body, status) {
  try { const parsed = JSON.parse(body); if (parsed && typeof parsed.error === "string") return parsed.error; } catch (_) { /* not JSON */ }
  return `the server answered ${status}`;
}

// Folders dropped: every file in them, recursively, that names a picture or film.
async function filesOfEntry(entry) {
  if (entry.isFile) return new Promise((resolve) => entry.file((file) => resolve([file]), () => resolve([])));
  if (!entry.isDirectory) return [];
  const reader = entry.createReader();
  const files = [];
  for (;;) {
    const batch = await new Promise((resolve) => reader.readEntries(resolve, () => resolve([])));
    if (!batch.length) break;
    for (const child of batch) {
      const found = await filesOfEntry(child);
      files.push(...found.filter((file) => MEDIA_EXTENSIONS.has(extensionOf(file.name))));
    }
  }
  return files;
}

function setUpDropZone() {
  const zone = $("drop");
  const stop = (event) => { event.preventDefault(); event.stopPropagation(); };
  for (const type of ["dragenter", "dragover"]) zone.addEventListener(type, (event) => { stop(event); zone.classList.add("over"); });
  zone.addEventListener("dragleave", (event) => { stop(event); zone.classList.remove("over"); });
  zone.addEventListener("drop", async (event) => {
    stop(event);
    zone.classList.remove("over");
    const items = [...(event.dataTransfer.items || [])];
    const entries = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
    if (entries.length) {
      const files = [];
      for (const entry of entries) files.push(...await filesOfEntry(entry));
      enqueueUploads(files);
    } else {
      enqueueUploads([...event.dataTransfer.files]);
    }
  });
  for (const id of ["choose-files", "choose-folder"]) {
    $(id).addEventListener("change", (event) => {
      const files = [...event.target.files];
      enqueueUploads(id === "choose-folder" ? files.filter((file) => MEDIA_EXTENSIONS.has(extensionOf(file.name))) : files);
      event.target.value = "";
    });
  }
}

// ---- The queue ----

const rows = new Map();  // job id -> row element
let jobsById = new Map();

function describeRate(job) {
  if (job.state !== "running") return job.state === "done" && job.total ? `${job.total} ${job.unit}` : "";
  const parts = [`${job.done} of ${job.total || "?"} ${job.unit}`];
  if (job.rate > 0) parts.push(`${job.rate.toFixed(job.rate < 10 ? 1 : 0)} ${job.unit}/s`);
  if (job.secondsLeft !== null && job.secondsLeft !== undefined) parts.push(`${formatSeconds(job.secondsLeft)} left`);
  return parts.join(", ");
}

function formatSeconds(seconds) {
  const whole = Math.max(0, Math.round(seconds));
  if (whole < 60) return `${whole} s`;
  const minutes = Math.floor(whole / 60);
  return minutes < 60 ? `${minutes} min ${whole % 60} s` : `${Math.floor(minutes / 60)} h ${minutes % 60} min`;
}

function rowFor(job) {
  let row = rows.get(job.id);
  if (row) return row;
  row = $("job-template").content.firstElementChild.cloneNode(true);
  row.dataset.id = job.id;
  row.querySelector(".job-view").addEventListener("click", () => openViewer(jobsById.get(job.id)));
  row.querySelector(".job-cancel").addEventListener("click", () => act("POST", `/api/jobs/${job.id}/cancel`));
  row.querySelector(".job-remove").addEventListener("click", () => {
    if (viewing && viewing.id === job.id) closeViewer();
    act("DELETE", `/api/jobs/${job.id}`);
  });
  rows.set(job.id, row);
  $("jobs").append(row);
  return row;
}

function updateRow(job) {
  const row = rowFor(job);
  row.dataset.state = job.state;
  row.querySelector(".job-name").textContent = job.name;
  row.querySelector(".job-kind").textContent = job.kind;
  row.querySelector(".job-state").textContent = job.state;
  const progress = row.querySelector("progress");
  progress.value = job.progress;
  progress.hidden = job.state !== "running" && job.state !== "queued";
  row.querySelector(".job-rate").textContent = describeRate(job);
  row.querySelector(".job-error").textContent = job.state === "failed" ? job.error || "failed" : "";
  const done = job.state === "done";
  const view = row.querySelector(".job-view");
  view.hidden = !done;
  view.textContent = job.kind === "film" ? "Play and compare" : "Compare";
  const download = row.querySelector(".job-download");
  download.hidden = !done;
  download.href = `/api/jobs/${job.id}/result`;
  download.download = job.resultName;
  row.querySelector(".job-cancel").hidden = job.state !== "queued" && job.state !== "running";
}

async function act(method, url) {
  const answer = await fetch(url, { method });
  if (!answer.ok && answer.status !== 204) showUploadStatus(errorText(await answer.text(), answer.status), true);
  refresh();
}

let refreshing = false;
async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const answer = await fetch("/api/jobs");
    if (!answer.ok) {
      showUploadStatus(answer.status === 401 ? "Open the address that crestdoubler-web printed: it carries the token." : errorText(await answer.text(), answer.status), true);
      return;
    }
    const jobs = await answer.json();
    jobsById = new Map(jobs.map((job) => [job.id, job]));
    for (const job of jobs) updateRow(job);
    for (const [id, row] of rows) if (!jobsById.has(id)) { row.remove(); rows.delete(id); }
    $("queue-empty").hidden = jobs.length > 0;
  } catch (_) {
    showUploadStatus("The server does not answer.", true);
  } finally {
    refreshing = false;
  }
}

// ---- The comparison ----

let viewing = null;        // the job shown
const view = { left: null, right: null, scale: 1, x: 0, y: 0, width: 0, height: 0, method: "nearest" };
let sourcePicture = null;  // the source at its own size, for the chosen enlargement

function loadImage(url) {
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => resolve(image);
    image.onerror = () => reject(new Error("the browser cannot show this format"));
    image.src = url;
  });
}

function canvasOf(image, width, height) {
  const canvas = document.createElement("canvas");
  canvas.width = width;
  canvas.height = height;
  canvas.getContext("2d").drawImage(image, 0, 0, width, height);
  return canvas;
}

// Weights of the two-tap-per-side half-pixel kernels: the result's even
// pixels are the source's own, the odd ones sit halfway between two.
function halfPixelTaps(method) {
  const bicubic = (x) => { const a = -0.5; x = Math.abs(x); return x < 1 ? (a + 2) * x ** 3 - (a + 3) * x ** 2 + 1 : x < 2 ? a * x ** 3 - 5 * a * x ** 2 + 8 * a * x - 4 * a : 0; };
  const sinc = (x) => (x === 0 ? 1 : Math.sin(Math.PI * x) / (Math.PI * x));
  const lanczos = (x) => (Math.abs(x) < 3 ? sinc(x) * sinc(x / 3) : 0);
  const kernel = method === "lanczos" ? lanczos : bicubic;
  const reach = method === "lanczos" ? 3 : 2;
  const taps = [];
  for (let k = -reach + 1; k <= reach; ++k) taps.push({ offset: k, weight: kernel(k - 0.5) });
  const sum = taps.reduce((total, tap) => total + tap.weight, 0);
  for (const tap of taps) tap.weight /= sum;
  return taps;
}

// The source on the result's grid: doubled as often as the result was, or,
// for a size of its own, drawn at that size by the browser's own filter.
function enlargeSource(image, method, width, height) {
  const sourceWidth = image.naturalWidth || image.width;
  const sourceHeight = image.naturalHeight || image.height;
  let doublings = 0;
  while ((sourceWidth << doublings) < width && doublings < 4) ++doublings;
  if ((sourceWidth << doublings) !== width || (sourceHeight << doublings) !== height) {
    const canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext("2d");
    context.imageSmoothingEnabled = method !== "nearest";
    context.imageSmoothingQuality = "high";
    context.drawImage(image, 0, 0, width, height);
    return canvas;
  }
  let enlarged = image;
  for (let i = 0; i < doublings; ++i) enlarged = doubleSource(enlarged, method);
  return enlarged;
}

// Doubled on the result's grid: source pixel (x, y) lands on (2x, 2y).
function doubleSource(image, method) {
  const width = image.naturalWidth || image.width;
  const height = image.naturalHeight || image.height;
  if (method === "nearest") {
    const canvas = document.createElement("canvas");
    canvas.width = 2 * width;
    canvas.height = 2 * height;
    const context = canvas.getContext("2d");
    context.imageSmoothingEnabled = false;
    context.drawImage(image, 0, 0, 2 * width, 2 * height);
    return canvas;
  }
  const source = canvasOf(image, width, height).getContext("2d").getImageData(0, 0, width, height).data;
  const taps = halfPixelTaps(method);
  const clamp = (value, high) => (value < 0 ? 0 : value > high ? high : value);
  const wide = new Float32Array(2 * width * height * 4);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < 2 * width; ++x) {
      const out = (y * 2 * width + x) * 4;
      const base = x >> 1;
      for (let c = 0; c < 4; ++c) {
        if ((x & 1) === 0) { wide[out + c] = source[(y * width + base) * 4 + c]; continue; }
        let sum = 0;
        for (const tap of taps) sum += tap.weight * source[(y * width + clamp(base + tap.offset, width - 1)) * 4 + c];
        wide[out + c] = sum;
      }
    }
  }
  const canvas = document.createElement("canvas");
  canvas.width = 2 * width;
  canvas.height = 2 * height;
  const context = canvas.getContext("2d");
  const result = context.createImageData(2 * width, 2 * height);
  const rowLength = 2 * width * 4;
  for (let y = 0; y < 2 * height; ++y) {
    const base = y >> 1;
    for (let i = 0; i < rowLength; ++i) {
      let value;
      if ((y & 1) === 0) value = wide[base * rowLength + i];
      else {
        value = 0;
        for (const tap of taps) value += tap.weight * wide[clamp(base + tap.offset, height - 1) * rowLength + i];
      }
      result.data[y * rowLength + i] = value;  // clamped and rounded by the array
    }
  }
  context.putImageData(result, 0, 0);
  return canvas;
}

const canvas = () => $("compare-canvas");

function fitView() {
  const target = canvas();
  view.scale = Math.min(target.width / view.width, target.height / view.height);
  centre();
}

function trueView() {
  const target = canvas();
  const middleX = (target.width / 2 - view.x) / view.scale;
  const middleY = (target.height / 2 - view.y) / view.scale;
  view.scale = 1;
  view.x = Math.round(target.width / 2 - middleX);
  view.y = Math.round(target.height / 2 - middleY);
  draw();
}

function centre() {
  const target = canvas();
  view.x = (target.width - view.width * view.scale) / 2;
  view.y = (target.height - view.height * view.scale) / 2;
  draw();
}

function draw() {
  const target = canvas();
  const context = target.getContext("2d");
  context.setTransform(1, 0, 0, 1, 0, 0);
  context.clearRect(0, 0, target.width, target.height);
  if (!view.left || !view.right) return;
  const split = Math.round(target.width * $("slider").value / 1000);
  context.imageSmoothingEnabled = false;
  for (const [image, from, to] of [[view.left, 0, split], [view.right, split, target.width]]) {
    context.save();
    context.beginPath();
    context.rect(from, 0, to - from, target.height);
    context.clip();
    context.setTransform(view.scale, 0, 0, view.scale, view.x, view.y);
    context.drawImage(image, 0, 0, view.width, view.height);
    context.restore();
  }
  context.fillStyle = "#fff";
  context.fillRect(split, 0, 1, target.height);
  target.dataset.scale = view.scale;
  target.dataset.x = view.x;
  target.dataset.y = view.y;
  target.dataset.split = split;
  target.dataset.width = view.width;
  target.dataset.height = view.height;
  $("zoom-level").textContent = `${Math.round(view.scale * 100)}%`;
}

function sizeCanvas() {
  const target = canvas();
  const ratio = window.devicePixelRatio || 1;
  target.width = Math.round(target.clientWidth * ratio);
  target.height = Math.round(target.clientHeight * ratio);
}

async function showComparison(source, result) {
  sourcePicture = source;
  view.right = result;
  view.width = result.naturalWidth || result.width;
  view.height = result.naturalHeight || result.height;
  view.left = enlargeSource(source, $("method").value, view.width, view.height);
  $("compare").hidden = false;
  sizeCanvas();
  fitView();
  canvas().dataset.ready = viewing ? viewing.id : "";
}

async function openViewer(job) {
  if (!job) return;
  viewing = job;
  $("viewer").hidden = false;
  $("viewer-title").textContent = job.resultName;
  $("film").hidden = job.kind !== "film";
  $("compare").hidden = true;
  canvas().dataset.ready = "";
  $("film-status").textContent = "";
  if (job.kind === "film") {
    $("film-result").src = `/api/jobs/${job.id}/result`;
    $("film-source").src = `/api/jobs/${job.id}/source`;
    return;
  }
  try {
    const [source, result] = await Promise.all([loadImage(`/api/jobs/${job.id}/source`), loadImage(`/api/jobs/${job.id}/result`)]);
    if (viewing === job) await showComparison(source, result);
  } catch (error) {
    showUploadStatus(`${job.name}: ${error.message}; download the result to see it`, true);
  }
}

function closeViewer() {
  viewing = null;
  $("viewer").hidden = true;
  $("film-result").removeAttribute("src");
  $("film-source").removeAttribute("src");
}

function seek(video, time) {
  return new Promise((resolve, reject) => {
    video.addEventListener("seeked", () => resolve(), { once: true });
    video.addEventListener("error", () => reject(new Error("the browser cannot play the source film")), { once: true });
    video.currentTime = time;
  });
}

async function compareFilmFrame() {
  const result = $("film-result");
  const source = $("film-source");
  result.pause();
  $("film-status").textContent = "Taking the frame…";
  try {
    if (source.readyState < 1) await new Promise((resolve, reject) => {
      source.addEventListener("loadedmetadata", resolve, { once: true });
      source.addEventListener("error", () => reject(new Error("the browser cannot play the source film")), { once: true });
    });
    await seek(source, result.currentTime);
    const sourceFrame = canvasOf(source, source.videoWidth, source.videoHeight);
    const resultFrame = canvasOf(result, result.videoWidth, result.videoHeight);
    await showComparison(sourceFrame, resultFrame);
    $("film-status").textContent = `Frame at ${result.currentTime.toFixed(2)} s`;
  } catch (error) {
    $("film-status").textContent = error.message;
  }
}

function setUpViewer() {
  const target = canvas();
  $("slider").addEventListener("input", draw);
  $("zoom-fit").addEventListener("click", fitView);
  $("zoom-true").addEventListener("click", trueView);
  $("viewer-close").addEventListener("click", closeViewer);
  $("film-frame").addEventListener("click", compareFilmFrame);
  $("method").addEventListener("change", () => {
    $("label-left").textContent = `source, ${$("method").selectedOptions[0].textContent}`;
    if (sourcePicture) { view.left = enlargeSource(sourcePicture, $("method").value, view.width, view.height); draw(); }
  });
  target.addEventListener("wheel", (event) => {
    event.preventDefault();
    if (!view.right) return;
    const ratio = window.devicePixelRatio || 1;
    const bounds = target.getBoundingClientRect();
    const pointX = (event.clientX - bounds.left) * ratio;
    const pointY = (event.clientY - bounds.top) * ratio;
    const factor = Math.pow(1.25, -Math.sign(event.deltaY));
    const scale = Math.min(64, Math.max(0.05, view.scale * factor));
    // The pixel under the pointer stays under it.
    view.x = pointX - (pointX - view.x) * scale / view.scale;
    view.y = pointY - (pointY - view.y) * scale / view.scale;
    view.scale = scale;
    draw();
  }, { passive: false });
  let drag = null;
  target.addEventListener("pointerdown", (event) => {
    drag = { x: event.clientX, y: event.clientY };
    target.setPointerCapture(event.pointerId);
    target.classList.add("dragging");
  });
  target.addEventListener("pointermove", (event) => {
    if (!drag) return;
    const ratio = window.devicePixelRatio || 1;
    view.x += (event.clientX - drag.x) * ratio;
    view.y += (event.clientY - drag.y) * ratio;
    drag = { x: event.clientX, y: event.clientY };
    draw();
  });
  const endDrag = () => { drag = null; target.classList.remove("dragging"); };
  target.addEventListener("pointerup", endDrag);
  target.addEventListener("pointercancel", endDrag);
  window.addEventListener("resize", () => { if (view.right) { sizeCanvas(); draw(); } });
}

function setUpSize() {
  $("scale").addEventListener("change", () => { $("target-width").disabled = $("scale").value !== "width"; });
}

setUpDropZone();
setUpSize();
setUpViewer();
refresh();
setInterval(refresh, POLL_MS);
