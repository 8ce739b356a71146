"""The HTML page of a report and the index of a cohort, as headless chromium shows them."""

from __future__ import annotations

import html
import json
import re
import subprocess
import sys
from html.parser import HTMLParser
from importlib import resources

from PIL import Image, ImageOps

import browser
from assessment_db import Request
from ardo_old.mind import mind
from ardo_old.report_html import EMOTION_NAMES, POLE_NAMES, POLE_PAIRS, ROLE_NAMES, render_report

DATA = resources.files("ardo_old").joinpath("data")
SAMPLE_ANSWERS = json.loads(DATA.joinpath("sample_answers.json").read_text(encoding="utf-8"))
HOSTILE = "<script>document.title='pwned'</script><img src=x onerror=\"document.title='pwned'\">"


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


def expected_texts(report: dict) -> list[str]:
    """Every figure of the report, with its name and level, in the order the page shows them."""
    kind = report["Personality_Type"]
    texts = [f"Client: {report['client_id']}", f"Personality type: {kind['title']}"]
    for left, right in POLE_PAIRS:
        texts += [f"{100 * kind[left]:.0f} % {POLE_NAMES[left]} ({left})",
                  f"{POLE_NAMES[right]} ({right}) {100 * kind[right]:.0f} %"]
    vak = report["vak"]
    texts.append(f"Learning style: {vak['type']}")
    texts += [f"{name.capitalize()}{' (dominant)' * (name.capitalize() == vak['type'])} {value}"
              for name, value in vak.items() if name != "type"]
    texts += [f"{EMOTION_NAMES[key]} {value}" for key, value in report["Emotional_Intelligance"].items()]
    ranked = sorted(report["Roles"].items(), key=lambda role: -role[1])
    texts += [f"{rank}. {ROLE_NAMES[key]} ({key}) {value}" for rank, (key, value) in enumerate(ranked, 1)]
    texts += [f"{t['name']} {t['id']} {t['score']} {t['level']}" for t in report["Traits"]]
    for space in report["Spaces"]:
        texts.append(f"Space: {space['space_name']} (identifier {space['space_id']}): "
                     f"{space['percentage']:.2f} %, {space['level']}")
        for aspect in space["aspects"]:
            texts.append(f"Aspect: {aspect['aspect_name']} (identifier {aspect['aspect_id']}): "
                         f"{aspect['percentage']:.2f} %, {aspect['level']}")
            texts += [f"{k['skill_name']} {k['skill_id']} {k['score']} {k['level']}"
                      for k in aspect["skills"]]
    return texts


def test_the_sample_page_shows_every_figure_with_its_level_and_draws_it(tmp_path):
    page = tmp_path / "sample.html"
    command = [sys.executable, "-m", "ardo_old", "score", "--html", str(page)]
    run = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    report = json.loads(run.stdout)
    dom = browser.dom(page)
    in_order(words(dom), expected_texts(report))
    # Each space and aspect's bar is as long as its percentage, in the order they are listed.
    percentages = [f"{entry['percentage']:.2f}" for space in report["Spaces"]
                   for entry in [space, *space["aspects"]]]
    assert re.findall(r'class="mark"[^>]*width="([\d.]+)"', dom) == percentages
    picture = Image.open(browser.screenshot(page)).convert("L")
    ink = ImageOps.invert(picture)
    left, top, right, bottom = ink.getbbox()
    assert right - left > picture.width / 2 and bottom - top > picture.height * 0.9
    assert sum(ink.histogram()[128:]) > 0.03 * picture.width * picture.height  # dark: text, bars


def test_a_hostile_name_stays_text_and_runs_nothing(tmp_path):
    report = score(SAMPLE_ANSWERS, HOSTILE)
    report["Traits"][0]["name"] = HOSTILE
    report["Spaces"][0]["aspects"][0]["skills"][0]["skill_name"] = HOSTILE
    page = tmp_path / "hostile.html"
    page.write_text(render_report(report), encoding="utf-8")
    dom = browser.dom(page)
    assert not {"script", "img"} & set(parsed(dom).tags)
    title = html.unescape(re.search(r"<title>(.*?)</title>", dom, re.S).group(1))
    assert title == f"Assessment report: {HOSTILE}"
    assert words(dom).count(HOSTILE) == 4  # the title, the client, the trait and the skill


def test_a_cohort_writes_a_page_per_client_and_an_index_linking_them(tmp_path):
    clients = [("c-1", SAMPLE_ANSWERS), ("c-1", [4] * len(SAMPLE_ANSWERS)),
               ("../a b", [1] * len(SAMPLE_ANSWERS)), ("short", [1, 2])]
    results = []
    for client_id, answers in clients:
        try:
            results.append((client_id, score(answers, client_id)))
        except IndexError as error:
            results.append((client_id, error))
    (tmp_path / "cohort.jsonl").write_text("".join(json.dumps({"client_id": c, "answers": a}) + "\n" for c, a in clients))
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--clients", "cohort.jsonl", "--out", "cohort.out",
                          "--html", "cohort"], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stderr) == (1, "ardo_old score: error: 1 of 4 clients failed: line 4\n")
    index = tmp_path / "cohort" / "index.html"
    dom = browser.dom(index)
    pages = re.findall(r'<a href="([^"]+)">', dom)
    assert len(set(pages)) == 3 and all((index.parent / name).is_file() for name in pages)
    expected = ["4 clients, 3 scored, 1 failed."]
    for client_id, result in results[:3]:
        expected += [client_id, result["Personality_Type"]["title"], result["vak"]["type"]]
        expected += [f"{s['space_name']}: {s['percentage']:.2f} %, {s['level']}" for s in result["Spaces"]]
    in_order(words(dom), expected)
    assert f"short not scored (line 4): IndexError: {results[3][1]}" in words(dom)
    for name, (client_id, _) in zip(pages, results):
        assert f"Client: {client_id}" in words(browser.dom(index.parent / name))
