"""The HTML page of a report, its PDF and the summary of a cohort, as headless chromium and poppler
show them."""

from __future__ import annotations

import datetime
import html
import json
import os
import random
import re
import shutil
import sqlite3
import statistics
import subprocess
import sys
from collections import Counter, defaultdict
from html.parser import HTMLParser
from importlib import resources

import pytest
from PIL import Image, ImageOps

import browser
from assessment_db import Request
from ardo_old import report_html
from ardo_old._check import design_warnings, field_name
from ardo_old.mind import mind
from ardo_old.psychometrics import scales
from ardo_old.report_html import (EMOTION_NAMES, POLE_NAMES, POLE_PAIRS, ROLE_NAMES, NormScore, Norms,
                                  Reliability, render_report, write_pages)

DATA = resources.files("ardo_old").joinpath("data")
SAMPLE_ANSWERS = json.loads(DATA.joinpath("sample_answers.json").read_text(encoding="utf-8"))
HOSTILE = "<script>document.title='pwned'</script><img src=x onerror=\"document.title='pwned'\">"
TODAY = datetime.date.today().isoformat()


# Elements that stand apart from their neighbours on the page; inline ones run on with them.
BLOCKS = {"title", "h1", "h2", "h3", "h4", "p", "div", "section", "tr", "td", "th", "li", "svg"}


class Text(HTMLParser):
    """The page's text as a reader sees it, with the elements that were built."""

    def __init__(self) -> None:
        super().__init__()
        self.chunks: list[str] = []
        self.tags: list[str] = []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        if tag in BLOCKS:
            self.chunks.append(" ")

    def handle_data(self, data):
        self.chunks.append(data)


def parsed(dom: str) -> Text:
    text = Text()
    text.feed(dom)  # entities come back as the characters they stand for
    return text


def words(dom: str) -> str:
    return " ".join("".join(parsed(dom).chunks).split())


def in_order(text: str, expected: list[str]) -> None:
    position = 0
    for part in expected:
        found = text.find(part, position)
        assert found >= 0, f"{part!r} missing after {text[max(0, position - 80):position]!r}"
        position = found + len(part)


def score(answers: list, client_id: object) -> dict:
    with resources.as_file(DATA.joinpath("sample.db")) as sample:
        return mind(Request(client_id, answers, sample))


def tool(name: str) -> str:
    """A program the tests drive; in CI its absence fails the test, elsewhere it skips it."""
    path = shutil.which(name)
    if path is None:
        message = f"{name} is not installed (scripts/install-test-tools installs it)"
        pytest.fail(message) if os.environ.get("CI") == "true" else pytest.skip(message)
    return path


def leaning(report: dict) -> list[str]:
    return [left if report["Personality_Type"]["title"][i] == left else right
            for i, (left, right) in enumerate(POLE_PAIRS)]


def expected_figures(report: dict, ids: bool = False) -> tuple[list[str], list[tuple[str, str]]]:
    """Every figure of the report with its name, notes and level, in the order the page shows them,
    then the notes; and each total's bar as (its figure against the range that the sample battery's
    scale definitions give, the share it fills)."""
    with resources.as_file(DATA.joinpath("sample.db")) as sample:
        ranges = {scale["scale"]: (scale["lowest"], scale["highest"]) for scale in scales(sample)}
        warnings = design_warnings(sample)
    notes: defaultdict[str | None, str] = defaultdict(str)
    for number, (key, _) in enumerate(warnings, start=1):
        notes[key] += f" note {number}"
    bars = []

    def total(key: str, name: str, value: int, identifier: object = None, level: str | None = None) -> str:
        low, high = ranges[key]
        shown = f"{value} of {high}" if low == 0 else f"{value} (range {low} to {high})"
        bars.append((shown, f"{100 * (value - low) / (high - low):.2f}"))
        return " ".join(str(part) for part in (name + notes[key], identifier if ids else None, shown, level) if part)

    kind = report["Personality_Type"]
    texts = [f"Personality type: {kind['title']}"]
    for (left, right), lean in zip(POLE_PAIRS, leaning(report)):
        texts += [f"{100 * kind[left]:.0f} % {POLE_NAMES[left]} ({left})",
                  f"{POLE_NAMES[right]} ({right}) {100 * kind[right]:.0f} %", f"Leans to {POLE_NAMES[lean]}."]
    vak = report["vak"]
    texts.append(f"Learning style: {vak['type']}")
    texts += [total(field_name("vak", name), f"{name.capitalize()}{' (dominant)' * (name.capitalize() == vak['type'])}", value)
              for name, value in vak.items() if name != "type"]
    texts += [total(field_name("Emotional_Intelligance", key), EMOTION_NAMES[key], value)
              for key, value in report["Emotional_Intelligance"].items()]
    ranked = sorted(report["Roles"].items(), key=lambda role: -role[1])
    texts += [total(field_name("Roles", key), f"{rank}. {ROLE_NAMES[key]} ({key})", value)
              for rank, (key, value) in enumerate(ranked, 1)]
    texts += [total(field_name("Traits", t["name"], "score"), t["name"], t["score"], t["id"], t["level"]) for t in report["Traits"]]
    for space in report["Spaces"]:
        texts.append(f"Space: {space['space_name']}{f' (identifier {space['space_id']})' * ids}: "
                     f"{space['percentage']:.2f} %, {space['level']}")
        for aspect in space["aspects"]:
            texts.append(f"Aspect: {aspect['aspect_name']}{f' (identifier {aspect['aspect_id']})' * ids}: "
                         f"{aspect['percentage']:.2f} %, {aspect['level']}")
            texts += [total(field_name("Spaces", space["space_name"], aspect["aspect_name"], k["skill_name"], "score"),
                            k["skill_name"], k["score"], k["skill_id"], k["level"]) for k in aspect["skills"]]
    return [*texts, "Notes on this instrument", *(message for _, message in warnings)], bars


def test_the_sample_page_explains_itself_and_draws_each_total_against_its_range(tmp_path):
    page = tmp_path / "sample.html"
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--html", str(page)],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    report = json.loads(run.stdout)
    texts, bars = expected_figures(report)
    dom = browser.dom(page)
    text = words(re.sub(r"<svg.*?</svg>", "", dom, flags=re.S))  # the page as read, without its charts' titles
    in_order(text, ["sample", "Assessment report for sample", f"Date: {TODAY}", "How to read this page", "balanced 16 or more",
                    "Strong Skill 30 or more", "Advanced 81 % or more", *texts])
    assert "identifier" not in text and "1001" not in text  # the database's identifiers stay hidden
    assert "highest possible total is not known here" not in text
    assert re.findall(r'<svg class="bar".*?: ([^:<]*)</title>.*?class="fill[^"]*"[^>]*width="([\d.]+)"', dom, re.S) == bars
    # The dark part of each personality bar is the pole that the type names.
    fills = re.findall(r'class="bipolar bar".*?class="fill" x="([\d.]+)" y="0" width="([\d.]+)"', dom, re.S)
    kind = report["Personality_Type"]
    assert fills == [(f"{0 if lean == left else 100 - 100 * kind[lean]:.2f}", f"{100 * kind[lean]:.2f}")
                     for (left, _), lean in zip(POLE_PAIRS, leaning(report))]
    percentages = [f"{entry['percentage']:.2f}" for space in report["Spaces"] for entry in [space, *space["aspects"]]]
    assert re.findall(r'class="mark"[^>]*width="([\d.]+)"', dom) == percentages
    assert dom.count('role="img"') == dom.count("<svg") == 4 + len(percentages) + len(bars)
    picture = Image.open(browser.screenshot(page)).convert("L")
    ink = ImageOps.invert(picture)
    left, top, right, bottom = ink.getbbox()
    assert right - left > picture.width / 2 and bottom - top > picture.height * 0.9
    assert sum(ink.histogram()[128:]) > 0.03 * picture.width * picture.height  # dark: text, bars


def luminance(colour: str) -> float:
    digits = colour.lstrip("#")
    digits = "".join(2 * c for c in digits) if len(digits) == 3 else digits
    channels = [int(digits[i:i + 2], 16) / 255 for i in (0, 2, 4)]
    linear = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def test_every_text_colour_of_the_pages_has_a_contrast_of_at_least_4_5():
    style = re.search(r"<style>(.*?)</style>", render_report(score(SAMPLE_ANSWERS, "c")), re.S).group(1)
    pairs = []
    for selector, body in re.findall(r"([^{}]+)\{([^{}]*)\}", style):
        colour = re.search(r"(?:^|;)\s*color:\s*(#[0-9a-fA-F]{3,6})", body)
        if colour:
            background = re.search(r"background:\s*(#[0-9a-fA-F]{3,6})", body)
            pairs.append((selector.strip(), colour.group(1), background.group(1) if background else "#fff"))
    assert len(pairs) >= 4
    for selector, colour, background in pairs:
        lighter, darker = sorted([luminance(colour), luminance(background)], reverse=True)
        assert (lighter + 0.05) / (darker + 0.05) >= 4.5, selector


def test_hostile_names_stay_text_inside_their_cells_and_ranges_norms_and_notes_show(tmp_path):
    report = score(SAMPLE_ANSWERS, HOSTILE)
    report["Traits"][0]["name"] = HOSTILE
    space = report["Spaces"][0]
    space["space_name"] = "Personal \u202eEffectiveness"
    long_name = "Long" + "x" * 10_000
    space["aspects"][0]["skills"][0]["skill_name"] = long_name
    skills = [(field_name("Spaces", s["space_name"], a["aspect_name"], k["skill_name"], "score"), k["score"])
              for s in report["Spaces"] for a in s["aspects"] for k in a["skills"]]
    trait = field_name("Traits", HOSTILE, "score")
    ranges = {"Emotional_Intelligance.Empathy": (0, 24), trait: (0, 24), **{key: (3, 12) for key, _ in skills}}
    norms = Norms("Staff 2024", lambda scale, value: NormScore(62.0, "average") if scale.startswith("Traits.") else None)
    page = tmp_path / "hostile.html"
    page.write_text(render_report(report, title="Battery", show_ids=True, ranges=ranges, norms=norms,
                                  warnings=[(trait, "a scale of one item"), (None, "question 9 counts for no scale")]),
                    encoding="utf-8")
    dom = browser.dom(page)
    text = words(dom)
    assert not {"script", "img"} & set(parsed(dom).tags)
    assert "highest possible total is not known here" in text  # most totals have no range here
    assert text.count(HOSTILE) == 5  # the page's title, the client, the trait, its bar's title, its note
    in_order(text, ["Battery", "Percentile in Staff 2024", f"{HOSTILE} note 1", "1001", "14 of 24",
                    "rebalanced 62 (average)", "(identifier 2001)", "Notes on this instrument",
                    f"Trait: {HOSTILE}: a scale of one item", "question 9 counts for no scale"])
    # Each bar is the total's place in its range, and says so in its title.
    bars = re.findall(r'<svg class="bar".*?<title>([^<]*)</title>.*?class="fill[^"]*"[^>]*width="([\d.]+)"', dom, re.S)
    empathy = report["Emotional_Intelligance"]["Empathy"]
    expected = [(f"{empathy} of 24", 100 * empathy / 24), (f"{report['Traits'][0]['score']} of 24", 100 * 14 / 24),
                *((f"{value} (range 3 to 12)", 100 * (value - 3) / 9) for _, value in skills)]
    assert len(bars) == len(expected)
    for (title, width), (of, share) in zip(bars, expected):
        assert html.unescape(title).endswith(of) and width == f"{share:.2f}"
    boxes = browser.measure(page, """
        const box = e => e.getBoundingClientRect().toJSON();
        const long = [...document.querySelectorAll('td.name')].find(td => td.textContent.length > 10000);
        const heading = [...document.querySelectorAll('h3')].find(h => h.textContent.includes('\u202e'));
        result = {page: [document.documentElement.scrollWidth, window.innerWidth],
                  overflow: [long.scrollWidth, long.clientWidth], cells: [...long.parentElement.children].map(box),
                  name: box(heading.querySelector('.name')), percent: box(heading.querySelector('.percent'))}""")
    assert boxes["page"][0] <= boxes["page"][1] and boxes["overflow"][0] <= boxes["overflow"][1]
    cells = boxes["cells"]
    assert all(a["right"] <= b["left"] + 0.5 for a, b in zip(cells, cells[1:])) and cells[-1]["right"] <= boxes["page"][1]
    assert boxes["percent"]["left"] >= boxes["name"]["right"]  # the override ends with the space's name
    picture = ImageOps.invert(Image.open(browser.screenshot(page)).convert("L"))
    assert picture.getbbox()[2] < picture.width - 40  # nothing printed past the right margin


def test_the_pdf_is_tagged_a4_and_every_page_shows_its_figures(tmp_path):
    if os.environ.get("CI") != "true":  # CI installs it with the test extra
        pytest.importorskip("weasyprint")
    pdf = tmp_path / "sample.pdf"
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--pdf", str(pdf), "--show-ids"],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    info = subprocess.run([tool("pdfinfo"), pdf], capture_output=True, text=True, check=True).stdout
    assert re.search(r"Tagged:\s+yes", info) and "(A4)" in info
    # In the order the PDF holds its text: poppler's guess at the layout reads a column of wrapped names first.
    text = subprocess.run([tool("pdftotext"), "-raw", pdf, "-"], capture_output=True, text=True, check=True).stdout
    in_order(" ".join(text.split()), ["Assessment report for sample", *expected_figures(json.loads(run.stdout), ids=True)[0]])
    # Without smoothing every pixel has a colour that was painted.
    subprocess.run([tool("pdftoppm"), "-r", "30", "-aa", "no", "-aaVector", "no", "-png", pdf, tmp_path / "page"], check=True)
    pictures = sorted(tmp_path.glob("page*.png"))
    assert len(pictures) == int(re.search(r"Pages:\s+(\d+)", info).group(1)) > 1
    greys = set()
    for picture in pictures:
        ink = ImageOps.invert(Image.open(picture).convert("L"))
        assert sum(ink.histogram()[96:]) > 0.01 * ink.width * ink.height, picture.name
        greys |= {255 - grey for grey, count in enumerate(ink.histogram()) if count}
    assert {0x44, 0xb0, 0xd6, 0xe4} <= greys  # the charts' own greys: a bar's fill, its bands, a pole pair's track


def scale_values(report: dict) -> list:
    """Every scale's value, in the order the summary lists the scales."""
    values = [report["Personality_Type"][left] for left, _ in POLE_PAIRS]
    values += [v for k, v in report["vak"].items() if k != "type"]
    values += [*report["Emotional_Intelligance"].values(), *report["Roles"].values()]
    values += [t["score"] for t in report["Traits"]]
    for space in report["Spaces"]:
        values.append(space["percentage"])
        for aspect in space["aspects"]:
            values += [aspect["percentage"], *(k["score"] for k in aspect["skills"])]
    return values


def failure(error: dict) -> str:
    """A failed client's reason as its row in the index reads: the error, then the hints."""
    return " ".join("; ".join([f"{error['type']}: {error['message']}", *error["hints"]]).split())


def test_a_generated_cohort_gets_a_summary_that_counts_it_and_links_every_page(tmp_path):
    generator = random.Random(24)
    lines = [json.dumps({"client_id": f"c-{n}", "answers": [generator.randint(1, 4) for _ in SAMPLE_ANSWERS][:82 if n % 13 else 40]})
             for n in range(60)] + ["not json"]
    (tmp_path / "cohort.jsonl").write_text("\n".join(lines) + "\n")
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--clients", "cohort.jsonl", "--out", "results.jsonl",
                          "--html", "cohort", "--title", "Staff battery"], cwd=tmp_path, capture_output=True, text=True, timeout=300)
    results = [json.loads(line) for line in (tmp_path / "results.jsonl").read_text().splitlines()]
    reports = [r for r in results if "error" not in r]
    failed = [r for r in results if "error" in r]
    summary = f"{len(failed)} of {len(results)} clients failed: lines {', '.join(str(r['line']) for r in failed)}"
    assert (run.returncode, run.stderr) == (1, f"ardo_old score: error: {summary}\n")
    index = tmp_path / "cohort" / "index.html"
    dom = browser.dom(index)
    text = words(dom)
    in_order(text, [f"Staff battery Cohort summary, {TODAY}: {len(results)} clients, {len(reports)} scored, "
                    f"{len(failed)} failed.", "Failed clients, by input line",
                    *(f"{r['line']} {r['client_id'] or 'none'} {failure(r['error'])}" for r in failed)])
    for counted in (Counter(r["Personality_Type"]["title"] for r in reports), Counter(r["vak"]["type"] for r in reports)):
        assert all(f"{value} {count}" in text for value, count in counted.items())
    columns = list(zip(*map(scale_values, reports)))
    assert re.findall(r'class="num mean">([^<]*)<', dom) == [f"{statistics.mean(c):.2f}" for c in columns]
    assert re.findall(r'class="num sd">([^<]*)<', dom) == [f"{statistics.stdev(c):.2f}" for c in columns]
    for row in dom.split('<tr class="scale">')[1:]:  # each histogram holds every client
        assert sum(map(int, re.findall(r'<td class="num">(\d+)</td>', row))) == len(reports)
    pages = re.findall(r'<a href="([^"]+)">', dom)
    assert len(pages) == len(reports)
    for name, report in zip(pages, reports):
        assert f"Assessment report for {report['client_id']}" in words(browser.dom(index.parent / name))


def test_the_index_is_rewritten_as_pages_come_and_covers_what_was_written_when_stopped(tmp_path, monkeypatch):
    monkeypatch.setattr(report_html, "INDEX_EVERY", 0.0)
    reports = [score(SAMPLE_ANSWERS[n:] + SAMPLE_ANSWERS[:n], f"c-{n}") for n in range(3)]
    index = tmp_path / "out" / "index.html"

    def results():
        for line, report in enumerate(reports, start=1):
            if line == 3:
                assert "2 clients, 2 scored" in words(index.read_text()) and "still going" in index.read_text()
            yield report["client_id"], report, line
        raise KeyboardInterrupt

    flags = [(12, "reverse-keyed or miskeyed?"), (31, "reverse-keyed or miskeyed?; alpha rises when dropped"),
             (40, "weak: r_drop under .20")]
    reliability = {"Emotional_Intelligance.Empathy": Reliability(0.714, flags), "Roles.TW": Reliability(None)}
    with pytest.raises(KeyboardInterrupt):
        write_pages(results(), index.parent, reliability=reliability, ranges={"Emotional_Intelligance.Empathy": (0, 24)})
    assert sorted(os.listdir(index.parent)) == ["0001-c-0.html", "0002-c-1.html", "0003-c-2.html", "index.html"]
    dom = browser.dom(index)
    in_order(words(dom), ["3 clients, 3 scored, 0 failed.", "The run was stopped",
                          "Emotional intelligence: Empathy", "0.71 Flagged items:",
                          *(f"question {question}: {flag}" for question, flag in flags),
                          "Team role: Teamworker", "none", "c-0", "c-1", "c-2"])
    # Each flag reads on one line, on a 900 px screen and printed on A4.
    lines = browser.measure(index, """result = [...document.querySelectorAll('ul.flags li')].map(
        li => li.getBoundingClientRect().height / parseFloat(getComputedStyle(li).lineHeight))""")
    assert len(lines) == len(flags) and all(height < 1.5 for height in lines), lines
    printed = subprocess.run([tool("pdftotext"), "-layout", browser.pdf(index), "-"], capture_output=True, text=True,
                             check=True).stdout
    assert all(any(f"question {question}: {flag}" in line for line in printed.splitlines()) for question, flag in flags)
    empathy = next(row for row in dom.split('<tr class="scale">') if "Empathy" in row)
    assert empathy.count('class="bin"') == 25  # one bar per possible total, 0 to 24


@pytest.mark.parametrize("aspect", ["Self.Management", "Self\\Management", "[Self]", "a.\\[b", 3, 2.5, b"\n\x1b"],
                         ids=repr)
def test_an_entry_of_any_name_gets_its_range_and_reliability_on_the_pages(tmp_path, aspect):
    database = tmp_path / "hostile.db"
    shutil.copyfile(DATA.joinpath("sample.db"), database)
    with sqlite3.connect(database) as connection:  # CMF untyped, so a number stays a number
        connection.executescript('ALTER TABLE CMF RENAME TO Typed; CREATE TABLE CMF ("Space", "Aspect", "Skill");'
                                 "INSERT INTO CMF SELECT * FROM Typed; DROP TABLE Typed")
        connection.execute("UPDATE CMF SET Aspect = ? WHERE Aspect = 'Self-Management'", (aspect,))
        entries = connection.execute("SELECT 1 + COUNT(DISTINCT Aspect) + COUNT(*) FROM CMF WHERE Space = 'Personal Effectiveness'").fetchone()[0]
    generator = random.Random(7)
    (tmp_path / "cohort.jsonl").write_text("".join(
        json.dumps({"client_id": n, "answers": [generator.randint(1, 4) for _ in SAMPLE_ANSWERS]}) + "\n" for n in range(30)))
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--db", str(database), "--clients", "cohort.jsonl",
                          "--out", "results.jsonl", "--html", "cohort"], cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    index = (tmp_path / "cohort" / "index.html").read_text(encoding="utf-8")
    scales = index[:index.index('<section id="clients"')]
    rows = [words(row) for row in scales.split('<tr class="scale">')[1:]]
    assert len([row for row in rows if row.startswith(("Space: Personal Effectiveness", "Aspect", "Skill"))
                and "Personal Effectiveness" in row]) == entries  # the space, its aspects and their skills
    assert 'class="num alpha">none<' not in scales  # every scale found its alpha by its name
    page = words(next((tmp_path / "cohort").glob("0001-*.html")).read_text(encoding="utf-8"))
    assert "highest possible total is not known here" not in page  # and its range
