"""The page in headless Chromium: a picture dropped, compared with its
source pixel for pixel on both sides of the slider, zoomed, panned and
downloaded as the command's bytes; a film's progress and playback; a name
full of markup shown as text. Screenshots are kept in build/web-screenshots."""

import base64
import io
import os
import shutil
import time

import pytest

from webserver import BUILD, Server, command_bytes, make_film, make_picture

selenium = pytest.importorskip("selenium")
from PIL import Image  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.common.exceptions import NoAlertPresentException  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
SCREENSHOTS = os.path.join(BUILD, "web-screenshots")
README_SCREENSHOT = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "web-page.png")
MARKUP_NAME = "<img src=x onerror=alert(1)>.png"
BROKEN_NAME = "<b onclick=alert(2)>bold.png"

if not (CHROMIUM and CHROMEDRIVER):
    if os.environ.get("CI") == "true":
        raise RuntimeError("chromium and chromium-driver are missing: scripts/install-deps.sh installs them")
    pytest.skip("chromium or chromedriver missing", allow_module_level=True)


@pytest.fixture(scope="module")
def media(tmp_path_factory):
    folder = tmp_path_factory.mktemp("media")
    return {"picture": make_picture(folder / "scene.png", size="160x120", source="testsrc"),
            "film": make_film(folder / "clip.mp4", size="320x240", seconds=6, rate=25),
            "folder": folder}


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    running = Server(tmp_path_factory.mktemp("page") / "data")
    yield running
    running.stop()


@pytest.fixture(scope="module")
def browser(tmp_path_factory, server):
    downloads = tmp_path_factory.mktemp("downloads")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,1100", "--force-device-scale-factor=1",
                 f"--user-data-dir={tmp_path_factory.mktemp('profile')}"]:
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = str(downloads)
    os.makedirs(SCREENSHOTS, exist_ok=True)
    driver.get(f"http://127.0.0.1:{server.port}/?token={server.token}")
    yield driver
    driver.quit()


def wait_for(condition, timeout=60, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


def drop_file(driver, path, name):
    """Drops a file on the drop zone as a browser does."""
    with open(path, "rb") as source:
        data = base64.b64encode(source.read()).decode()
    driver.execute_script("""
        const bytes = Uint8Array.from(atob(arguments[0]), (c) => c.charCodeAt(0));
        const transfer = new DataTransfer();
        transfer.items.add(new File([bytes], arguments[1]));
        document.getElementById("drop").dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, bubbles: true}));
    """, data, name)


def row_named(driver, name):
    for row in driver.find_elements(By.CSS_SELECTOR, "#jobs .job"):
        if row.find_element(By.CSS_SELECTOR, ".job-name").text == name:
            return row
    return None


def finished_row(driver, name, timeout=120):
    return wait_for(lambda: (row := row_named(driver, name)) and row.get_attribute("data-state") == "done" and row,
                    timeout, f"{name} done")


def screenshot(element_or_driver, name):
    png = element_or_driver.screenshot_as_png if hasattr(element_or_driver, "screenshot_as_png") else element_or_driver.get_screenshot_as_png()
    with open(os.path.join(SCREENSHOTS, name), "wb") as file:
        file.write(png)
    return Image.open(io.BytesIO(png)).convert("RGB")


def view_of(canvas):
    return {key: float(canvas.get_attribute(f"data-{key}")) for key in ("scale", "x", "y", "split")}


def block_matches(shot, image, view, left, top, size, enlarged_by):
    """Whether the canvas block at (left, top) shows image, as drawn at the view."""
    scale, x0, y0 = view["scale"], view["x"], view["y"]
    worst = 0
    for cy in range(top, top + size):
        for cx in range(left, left + size):
            u = (cx + 0.5 - x0) / scale
            v = (cy + 0.5 - y0) / scale
            if min(u % 1, v % 1) < 0.2 or max(u % 1, v % 1) > 0.8:
                continue  # near a pixel border, where rounding decides
            px, py = int(u) // enlarged_by, int(v) // enlarged_by
            seen = shot.getpixel((cx, cy))
            wanted = image.getpixel((px, py))
            worst = max(worst, max(abs(a - b) for a, b in zip(seen, wanted)))
    return worst <= 3


def test_a_dropped_picture_is_compared_zoomed_and_downloaded(browser, server, media, tmp_path):
    drop_file(browser, media["picture"], "scene.png")
    row = finished_row(browser, "scene.png")
    row.find_element(By.CSS_SELECTOR, ".job-view").click()
    canvas = browser.find_element(By.ID, "compare-canvas")
    wait_for(lambda: canvas.get_attribute("data-ready"), what="the comparison")
    browser.find_element(By.ID, "zoom-true").click()
    browser.execute_script("const s = document.getElementById('slider'); s.value = 500; s.dispatchEvent(new Event('input'));")
    shot = screenshot(canvas, "picture-true-pixels.png")
    view = view_of(canvas)
    assert view["scale"] == 1
    source = Image.open(media["picture"]).convert("RGB")
    result = Image.open(io.BytesIO(server.result(row.get_attribute("data-id"))[1])).convert("RGB")
    split = int(view["split"])
    # Blocks just left and right of the slider, inside the picture.
    top = int(view["y"]) + 60
    left_block, right_block = split - 50, split + 10
    assert block_matches(shot, source, view, left_block, top, 40, 2)
    assert not block_matches(shot, result, view, left_block, top, 40, 1)
    assert block_matches(shot, result, view, right_block, top, 40, 1)
    assert not block_matches(shot, source, view, right_block, top, 40, 2)

    # The slider moved right: the same block now shows the source.
    browser.execute_script("const s = document.getElementById('slider'); s.value = 800; s.dispatchEvent(new Event('input'));")
    shot = screenshot(canvas, "picture-slider-moved.png")
    view = view_of(canvas)
    assert block_matches(shot, source, view, right_block, top, 40, 2)

    # Zoom with the wheel beyond true pixels, about the pointer (the canvas's middle).
    browser.execute_script("const s = document.getElementById('slider'); s.value = 500; s.dispatchEvent(new Event('input'));")
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", canvas)
    for _ in range(6):
        ActionChains(browser).scroll_from_origin(ScrollOrigin.from_element(canvas), 0, -120).perform()
    zoomed = view_of(canvas)
    assert zoomed["scale"] == pytest.approx(1.25 ** 6)
    middle_x, middle_y = canvas.size["width"] / 2, canvas.size["height"] / 2
    assert (middle_x - zoomed["x"]) / zoomed["scale"] == pytest.approx((middle_x - view["x"]) / view["scale"], abs=1)
    assert (middle_y - zoomed["y"]) / zoomed["scale"] == pytest.approx((middle_y - view["y"]) / view["scale"], abs=1)
    shot = screenshot(canvas, "picture-zoomed.png")
    split = int(zoomed["split"])
    assert block_matches(shot, result, zoomed, split + 10, int(middle_y) - 30, 60, 1)
    assert block_matches(shot, source, zoomed, split - 70, int(middle_y) - 30, 60, 2)
    # Drag to pan.
    ActionChains(browser).move_to_element(canvas).click_and_hold().move_by_offset(60, 40).release().perform()
    panned = view_of(canvas)
    assert (panned["x"] - zoomed["x"], panned["y"] - zoomed["y"]) == (60, 40)
    # Another enlargement of the source on the left.
    browser.find_element(By.CSS_SELECTOR, "#method option[value=lanczos]").click()
    browser.find_element(By.ID, "zoom-true").click()
    lanczos = screenshot(canvas, "picture-lanczos.png")
    assert not block_matches(lanczos, source, view_of(canvas), left_block, top, 40, 2)
    # The page as the README shows it: the picture fitted, nearest neighbour against the result.
    browser.find_element(By.CSS_SELECTOR, "#method option[value=nearest]").click()
    browser.find_element(By.ID, "zoom-fit").click()
    browser.execute_script("const s = document.getElementById('slider'); s.value = 500; s.dispatchEvent(new Event('input'));")
    page = screenshot(browser, "picture-page.png")
    page.resize((page.width * 5 // 8, page.height * 5 // 8), Image.LANCZOS).quantize(128).save(README_SCREENSHOT, optimize=True)

    row.find_element(By.CSS_SELECTOR, ".job-download").click()
    downloaded = os.path.join(browser.downloads, "scene-2x.png")
    wait_for(lambda: os.path.exists(downloaded), what="the download")
    with open(downloaded, "rb") as file:
        assert file.read() == command_bytes(media["picture"], tmp_path / "command.png")


def test_a_film_shows_its_progress_and_plays(browser, server, media):
    browser.execute_script("document.getElementById('choose-files').hidden = false;")
    browser.find_element(By.ID, "choose-files").send_keys(media["film"])
    row = wait_for(lambda: (found := row_named(browser, "clip.mp4")) and found.get_attribute("data-state") == "running"
                   and float(found.find_element(By.TAG_NAME, "progress").get_attribute("value")) > 0 and found,
                   what="the film's progress")
    assert "frames" in row.find_element(By.CSS_SELECTOR, ".job-rate").text
    screenshot(browser, "film-progress.png")
    row = finished_row(browser, "clip.mp4")
    row.find_element(By.CSS_SELECTOR, ".job-view").click()
    video = browser.find_element(By.ID, "film-result")
    wait_for(lambda: browser.execute_script("return arguments[0].readyState >= 2", video), what="the film to play")
    assert browser.execute_script("return [arguments[0].videoWidth, arguments[0].videoHeight]", video) == [640, 480]
    browser.execute_script("arguments[0].currentTime = 2.0", video)
    wait_for(lambda: browser.execute_script("return !arguments[0].seeking && arguments[0].readyState >= 2", video))
    browser.find_element(By.ID, "film-frame").click()
    canvas = browser.find_element(By.ID, "compare-canvas")
    wait_for(lambda: canvas.get_attribute("data-ready"), what="the film frame's comparison")
    assert (canvas.get_attribute("data-width"), canvas.get_attribute("data-height")) == ("640", "480")
    browser.execute_script("arguments[0].scrollIntoView()", canvas)
    screenshot(browser, "film-frame.png")


def test_a_name_with_markup_shows_as_text(browser, media, tmp_path):
    drop_file(browser, media["picture"], MARKUP_NAME)
    row = wait_for(lambda: row_named(browser, MARKUP_NAME), what="the job with markup in its name")
    assert row.find_elements(By.CSS_SELECTOR, ".job-name img") == []
    assert browser.find_elements(By.CSS_SELECTOR, "#jobs img") == []
    finished_row(browser, MARKUP_NAME)
    # A failure's message, which names the file, is text too.
    broken = tmp_path / "broken.png"
    broken.write_bytes(b"\x89PNG\r\n\x1a\n" + b"\0" * 100)
    drop_file(browser, str(broken), BROKEN_NAME)
    row = wait_for(lambda: (found := row_named(browser, BROKEN_NAME)) and found.get_attribute("data-state") == "failed"
                   and found, what="the broken picture to fail")
    assert BROKEN_NAME in row.find_element(By.CSS_SELECTOR, ".job-error").text
    assert browser.find_elements(By.CSS_SELECTOR, "#jobs b") == []
    with pytest.raises(NoAlertPresentException):
        browser.switch_to.alert.text
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", row)
    screenshot(browser, "markup-name.png")


def test_a_chosen_folder_queues_its_pictures_and_films(browser, tmp_path):
    folder = tmp_path / "holiday"
    (folder / "inner").mkdir(parents=True)
    make_picture(folder / "beach.png", size="32x24")
    make_picture(folder / "inner" / "dunes.jpg", size="32x24")
    (folder / "notes.txt").write_text("not a picture")
    browser.execute_script("document.getElementById('choose-folder').hidden = false;")
    browser.find_element(By.ID, "choose-folder").send_keys(str(folder))
    for name in ("beach.png", "dunes.jpg"):
        finished_row(browser, name)
    assert row_named(browser, "notes.txt") is None
