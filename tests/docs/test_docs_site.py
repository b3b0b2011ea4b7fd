"""The HTML site of `make docs`: it builds with warnings as errors, every
reference resolved and every gallery example run, and its pages render in
a real browser (headless Chromium): the search box, the code blocks and the
reference entries are there, the search finds an API entry through the
built index, the guide's and the gallery's code fits its column, each
gallery page shows the figures its code drew, the reference's pages list
the gallery's examples that use their object, and each signature shown in
the reference is the object's own.

`make docs-site` sets QUILLON_DOCS_SITE and runs this file, with the pinned
tools of docs/requirements.txt and Debian's chromium installed.
"""

import inspect
import os
import shutil
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path

import pytest

import quillon_models

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = sorted(p.stem for p in (ROOT / "docs" / "examples").glob("*.py"))
GUIDE_PAGES = sorted(p.stem for p in (ROOT / "docs" / "guide").glob("*.md"))

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


@pytest.mark.parametrize("page, anchors, code", [
    ("index.html", [], True),
    ("guide.html", ["speed"], True),
    ("guide/engine.html", ["choosing-the-covariance"], True),
    ("gallery/index.html", [], False),
    ("gallery/plot_admissions.html", [], True),
    ("reference/generated/quillon_models.probit.html", ["quillon_models.probit"], True),
    ("reference/generated/quillon_models.ProbitResults.html",
     ["quillon_models.ProbitResults.ame", "quillon_models.ProbitResults.get_margeff"], False),
    ("reference/generated/quillon.fit_probit.html", ["quillon.fit_probit"], True),
])
def test_page_renders_with_search_and_code(site, browser, page, anchors, code):
    dom = Elements(browser((site / page).as_uri(), "--dump-dom"))
    assert dom.having("form", class_="bd-search") and dom.having("input", name="q"), \
        "no search box"
    assert not code or (dom.having("div", class_="highlight") and dom.having("pre")), \
        "no code block"
    ids = {attrs.get("id") for _, attrs in dom.found}
    assert set(anchors) <= ids


@pytest.mark.parametrize("page", ["quillon_models.probit", "quillon_models.ProbitResults",
                                  "quillon.fit_probit"])
def test_reference_page_links_the_examples_using_it(site, page):
    dom = Elements((site / "reference" / "generated" / f"{page}.html").read_text())
    thumbnails = dom.having("div", class_="sphx-glr-thumbcontainer")
    assert thumbnails, "no gallery example listed"


def test_search_finds_a_reference_entry(site, browser):
    dom = Elements(browser((site / "search.html").as_uri() + "?q=write_parquet", "--dump-dom"))
    links = [attrs["href"] for attrs in dom.having("a") if "href" in attrs]
    assert ("reference/generated/quillon_models.datasets.write_parquet.html"
            "#quillon_models.datasets.write_parquet") in links


def test_front_page_screenshot_is_drawn(site, browser, tmp_path):
    image = pytest.importorskip("matplotlib.image")
    shot = tmp_path / "front.png"
    browser((site / "index.html").as_uri(), f"--screenshot={shot}", "--window-size=1280,900",
            "--hide-scrollbars")
    pixels = image.imread(shot)
    assert pixels.shape[:2] == (900, 1280)
    colours = {tuple(p) for p in pixels[::7, ::7].reshape(-1, pixels.shape[2]).round(2)}
    assert len(colours) > 50  # text, code and sidebar drawn, not a blank page


# Written into a copy of a page: the widths of its code blocks once laid
# out (the code the reader reads, not an example's printed output).
MEASURE = """<script>window.addEventListener("load", () => {
  const blocks = [...document.querySelectorAll("article pre")]
    .filter(b => !b.closest(".sphx-glr-script-out"));
  document.body.setAttribute("data-code-widths",
    blocks.map(b => b.scrollWidth + "x" + b.clientWidth).join(" "));
});</script>"""


@pytest.mark.parametrize("page", [f"guide/{name}.html" for name in GUIDE_PAGES]
                         + [f"gallery/{name}.html" for name in EXAMPLES])
def test_code_fits_the_column(site, browser, page):
    """At 1280 pixels, with both sidebars shown, no code block scrolls."""
    measured = (site / page).with_name(f"measured-{Path(page).name}")
    measured.write_text((site / page).read_text().replace("</body>", MEASURE + "</body>"))
    dom = Elements(browser(measured.as_uri(), "--dump-dom", "--window-size=1280,900"))
    [body] = dom.having("body")
    widths = [tuple(map(int, pair.split("x"))) for pair in body["data-code-widths"].split()]
    assert widths, "no code block measured"
    assert all(client > 400 for _, client in widths)
    cut = [(scroll, client) for scroll, client in widths if scroll > client]
    assert not cut, f"code blocks wider than the column (scroll, client): {cut}"


@pytest.mark.parametrize("name", EXAMPLES)
def test_gallery_page_shows_what_its_code_drew(site, browser, name):
    image = pytest.importorskip("matplotlib.image")
    page = site / "gallery" / f"{name}.html"
    dom = Elements(browser(page.as_uri(), "--dump-dom"))
    assert dom.having("div", class_="sphx-glr-script-out"), "no printed output"
    figures = (dom.having("img", class_="sphx-glr-single-img")
               + dom.having("img", class_="sphx-glr-multi-img"))
    assert figures, "no figure"
    for figure in figures:
        pixels = image.imread(page.parent / figure["src"])
        colours = {tuple(p) for p in pixels[::5, ::5].reshape(-1, pixels.shape[2]).round(2)}
        assert len(colours) > 20, f"{figure['src']} is blank"


class Signature(HTMLParser):
    """The parameter names of the signature shown for one object."""

    def __init__(self, markup, target):
        super().__init__()
        self.target, self.inside, self.depth, self.param, self.names = target, False, 0, None, []
        self.feed(markup)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "dt" and attrs.get("id") == self.target:
            self.inside = True
        if self.inside and tag == "em" and "sig-param" in (attrs.get("class") or ""):
            self.param = ""

    def handle_endtag(self, tag):
        if self.inside and tag == "em" and self.param is not None:
            name = self.param.split("=")[0].strip()
            if name.strip("*/"):
                self.names.append(name.lstrip("*"))
            self.param = None
        elif tag == "dt":
            self.inside = False

    def handle_data(self, data):
        if self.param is not None:
            self.param += data


@pytest.mark.parametrize("name", sorted(
    name for name in quillon_models.__all__
    if not isinstance(obj := getattr(quillon_models, name), type)
    or not issubclass(obj, BaseException)))  # an exception's signature is its base's
def test_signature_shown_is_the_objects(site, name):
    """The reference shows what Python reports, weights and all."""
    obj = getattr(quillon_models, name)
    page = site / "reference" / "generated" / f"quillon_models.{name}.html"
    shown = Signature(page.read_text(), f"quillon_models.{name}").names
    assert shown == [p for p in inspect.signature(obj).parameters if p != "self"]
