"""The HTML site of `make docs`: it builds with warnings as errors and every
reference resolved, and its pages render in a real browser (headless
Chromium) with the search box, the code blocks and the reference entries
there, and the search finding an API entry through the built index.

`make docs-site` sets QUILLON_DOCS_SITE and runs this file, with the pinned
tools of docs/requirements.txt and Debian's chromium installed.
"""

import os
import shutil
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(not os.environ.get("QUILLON_DOCS_SITE"),
                                reason="run by `make docs-site` (QUILLON_DOCS_SITE)")


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    out = tmp_path_factory.mktemp("html")
    build = subprocess.run([sys.executable, "-m", "sphinx", "-W", "--keep-going", "-n", "-q",
                            "-b", "html", ROOT / "docs", out], capture_output=True, text=True)
    assert build.returncode == 0, build.stderr
    return out


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    """Runs headless Chromium on a page: its DOM after scripts ran, or a
    screenshot."""
    chromium = shutil.which("chromium")
    assert chromium, "chromium not found: `make system-deps` installs it"
    profile = tmp_path_factory.mktemp("chromium-profile")

    def run(url, *options):
        done = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu",
                               f"--user-data-dir={profile}", "--virtual-time-budget=5000",
                               *options, url], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr[-3000:]
        return done.stdout

    return run


class Elements(HTMLParser):
    """The rendered DOM's elements as (tag, attributes) pairs."""

    def __init__(self, markup):
        super().__init__()
        self.found = []
        self.feed(markup)

    def handle_starttag(self, tag, attrs):
        self.found.append((tag, dict(attrs)))

    def having(self, tag, **wanted):
        return [attrs for t, attrs in self.found if t == tag and all(
            value in (attrs.get(key.rstrip("_")) or "").split() or attrs.get(key.rstrip("_")) == value
            for key, value in wanted.items())]


@pytest.mark.parametrize("page, anchors", [
    ("index.html", []),
    ("reference/quillon_models.html", ["quillon_models.probit", "quillon_models.ProbitResults.ame"]),
    ("reference/quillon.html", ["quillon.fit_probit", "quillon.ame"]),
])
def test_page_renders_with_search_and_code(site, browser, page, anchors):
    dom = Elements(browser((site / page).as_uri(), "--dump-dom"))
    search = dom.having("search", id="searchbox") + dom.having("div", id="searchbox")
    assert search and dom.having("input", name="q"), "no search box"
    assert dom.having("div", class_="highlight") and dom.having("pre"), "no code block"
    ids = {attrs.get("id") for _, attrs in dom.found}
    assert set(anchors) <= ids


def test_search_finds_a_reference_entry(site, browser):
    dom = Elements(browser((site / "search.html").as_uri() + "?q=write_parquet", "--dump-dom"))
    links = [attrs["href"] for attrs in dom.having("a") if "href" in attrs]
    assert "reference/datasets.html#quillon_models.datasets.write_parquet" in links


def test_front_page_screenshot_is_drawn(site, browser, tmp_path):
    image = pytest.importorskip("matplotlib.image")
    shot = tmp_path / "front.png"
    browser((site / "index.html").as_uri(), f"--screenshot={shot}", "--window-size=1280,900",
            "--hide-scrollbars")
    pixels = image.imread(shot)
    assert pixels.shape[:2] == (900, 1280)
    colours = {tuple(p) for p in pixels[::7, ::7].reshape(-1, pixels.shape[2]).round(2)}
    assert len(colours) > 50  # text, code and sidebar drawn, not a blank page
