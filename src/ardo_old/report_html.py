"""A report of ``ardo_old.mind.mind`` as one self-contained HTML page, for the people who read it.

``render_report(report)`` gives the page of one client and ``render_pdf(report)`` the same page as a
tagged A4 PDF; ``write_pages(results, directory)`` writes a cohort's pages as its results come, with
an ``index.html`` that summarises the cohort; ``render_index(entries)`` gives such an index alone.
A page fetches nothing and runs no script: its style is inline, its charts are inline SVG drawn
from the report's numbers, each with its figures in text as well, and every text that comes from
the database or the client is escaped and isolated for bidirectional text. Every level is named in
text, so the page reads without colour, and it prints on A4. Needs Jinja2 (the ``html`` extra);
the PDF needs WeasyPrint (the ``pdf`` extra).

Each scale is named by its column in the cohort table (``Traits.Composure.score``, ``Roles.TW``,
``Spaces.<space>.<aspect>.<skill>.score``): ``ranges``, ``norms``, ``warnings`` and
``reliability`` are keyed by those names.
"""

from __future__ import annotations

import datetime
import math
import os
import re
import tempfile
import time
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from functools import cache
from pathlib import Path
from types import ModuleType
from typing import IO, TYPE_CHECKING, Any, NamedTuple

from ardo_old._check import field_name
from ardo_old._check import level_bands as _rules
from ardo_old._cohort_summary import CohortSummary, ScaleValues

if TYPE_CHECKING:
    import jinja2

__all__ = ["NormScore", "Norms", "Reliability", "level_bands", "render_index", "render_pdf",
           "render_report", "write_pages"]

# The poles of the personality type, each pair drawn as one bipolar bar.
POLE_PAIRS = [("E", "I"), ("S", "N"), ("T", "F"), ("J", "P")]
POLE_NAMES = {"E": "Extraversion", "I": "Introversion", "S": "Sensing", "N": "Intuition",
              "T": "Thinking", "F": "Feeling", "J": "Judging", "P": "Perceiving"}
EMOTION_NAMES = {"SelfAwarness": "Self-awareness", "ManagingEmotions": "Managing emotions",
                 "MotivatingOneself": "Motivating oneself", "Empathy": "Empathy",
                 "SocialSkills": "Social skills"}
ROLE_NAMES = {"RI": "Resource Investigator", "CO": "Co-ordinator", "PL": "Plant", "SH": "Shaper",
              "ME": "Monitor Evaluator", "IMP": "Implementer", "TW": "Teamworker",
              "CF": "Completer Finisher", "SP": "Specialist"}
# The bands of the level rules as scoring defines them, lowest first: (level, the least integer
# total that has it) for traits and skills, (level, lower bound in percent) for aspects and spaces.
TRAIT_BANDS = _rules["trait"]
SKILL_BANDS = _rules["skill"]
ASPECT_BANDS = _rules["aspect"]
SPACE_BANDS = _rules["space"]

LEVEL_MEANINGS = {
    "balanced": "the trait is well established", "rebalanced": "the trait shows, but is not settled",
    "unbalanced": "the trait shows little", "Strong Skill": "a strength to build on",
    "Needs Attention": "worth working on", "Development Priority": "the first to develop",
    "Advanced": "a high share of the possible total", "Intermediate": "a middle share",
    "Beginner": "a low share",
}
INDEX_EVERY = 5.0  # seconds between rewrites of a cohort's index while its pages are written


# What a template is given of a report, a scale or a row, by name.
View = dict[str, Any]


class NormScore(NamedTuple):
    """A client's standing on one scale against a norm group."""

    percentile: float  # percentile rank in the group, 0 to 100
    band: str  # the band of that rank, as the norms name it ("average", "stanine 6")


class Norms(NamedTuple):
    group: str  # the norm group's name, as the page names it
    lookup: Callable[[str, Any], NormScore | None]  # (scale, the client's value) to its standing


class Reliability(NamedTuple):
    """A scale's reliability over a cohort: its alpha (None where it has none) and its flagged items."""

    alpha: float | None
    flagged: Sequence[tuple[int, str]] = ()  # (question counted from 1, why it is flagged)


@dataclass(frozen=True)
class PageOptions:
    title: str = "Assessment report"
    date: str = ""
    show_ids: bool = False
    ranges: Mapping[str, tuple[Any, Any]] = field(default_factory=dict)
    norms: Norms | None = None
    warnings: tuple[tuple[str | None, str], ...] = ()  # (scale or None for the whole instrument, text)


def level_bands() -> dict[str, list[tuple[str, int]]]:
    """The bands of every level rule, by what they rate; the one place the pages read them from."""
    return {"trait": TRAIT_BANDS, "skill": SKILL_BANDS, "aspect": ASPECT_BANDS, "space": SPACE_BANDS}


def page_options(*, title: str | None = None, date: datetime.date | str | None = None,
                 show_ids: bool = False, ranges: Mapping[str, tuple[Any, Any]] | None = None,
                 norms: Norms | None = None, warnings: Iterable[tuple[str | None, str]] = ()) -> PageOptions:
    day = date if isinstance(date, str) else (date or datetime.date.today()).isoformat()
    return PageOptions(title or PageOptions.title, day, show_ids, ranges or {}, norms, tuple(warnings))


def render_report(report: Mapping[str, Any], **options: Any) -> str:
    """The page of one client's report, as ``mind`` returns it. Options: ``title`` (the
    instrument's), ``date`` (default today), ``show_ids`` (the database's identifiers, hidden by
    default), ``ranges`` (scale to its possible (lowest, highest) total: the bars are drawn against
    it, and without it no bar is drawn), ``norms`` (a ``Norms``: each scale's percentile and band
    in the named group) and ``warnings`` ((scale or None, text) pairs about the instrument)."""
    return _render_page(report_view(report, page_options(**options)))


def render_pdf(report: Mapping[str, Any], **options: Any) -> bytes:
    """The page of ``render_report`` as a tagged A4 PDF (PDF/UA), through WeasyPrint."""
    pdf: bytes = pdf_engine().HTML(string=render_report(report, **options)).write_pdf(pdf_variant="pdf/ua-1")
    return pdf


def pdf_engine() -> ModuleType:
    """WeasyPrint, or an ImportError that says how to install it."""
    try:
        import weasyprint
    except (ImportError, OSError) as missing:  # OSError: WeasyPrint is there, its Pango libraries not
        raise ImportError(f"PDF reports need WeasyPrint: pip install 'ardo_old[pdf]' ({missing})") from None
    engine: ModuleType = weasyprint
    return engine


def write_pages(results: Iterable[tuple[Any, ...]], directory: str | Path, *,
                reliability: Mapping[str, Reliability] | None = None, **options: Any) -> Path:
    """Writes one page per scored client of ``results`` into ``directory``, made if missing, as the
    results come, and ``index.html`` summarising them; returns the index's path. Each result is
    (client id, its report or the error that kept it from one), optionally with the input line as a
    third item, by which the index lists the failures. Pages are numbered in cohort order, so no two
    clients share a file whatever their ids. The index is rewritten atomically every INDEX_EVERY
    seconds and at the end, also when the run is interrupted, so it always covers the pages written.
    ``reliability`` gives the index each scale's alpha and flagged items; the other options are
    ``render_report``'s."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    settings = page_options(**options)
    index = directory / "index.html"
    with _CohortIndex(settings, reliability or {}) as cohort:
        last = time.monotonic()
        try:
            for position, (client_id, result, *line) in enumerate(results, start=1):
                cohort.add(directory, position, client_id, result, line[0] if line else position)
                if time.monotonic() - last >= INDEX_EVERY:
                    cohort.write(index, "running")
                    last = time.monotonic()
        except BaseException:
            cohort.write(index, "stopped")
            raise
        cohort.write(index, "done")
    return index


def render_index(entries: Iterable[tuple[Any, ...]], *,
                 reliability: Mapping[str, Reliability] | None = None, **options: Any) -> str:
    """The index page of a cohort whose pages are written: (client id, file name of its page or None,
    its report or the error that kept it from one[, input line]) per client."""
    with _CohortIndex(page_options(**options), reliability or {}) as cohort:
        for position, (client_id, page, result, *line) in enumerate(entries, start=1):
            cohort.record(page, client_id, result, line[0] if line else position)
        return "".join(cohort.render("done"))


# --- the client's page -------------------------------------------------------------------------

class _Page:
    """Builds the view of one report, collecting each scale it shows (for the cohort's summary)."""

    def __init__(self, options: PageOptions) -> None:
        self.options = options
        self.scales: list[View] = []

    def scale(self, key: str, label: tuple[str, ...], value: Any, span: tuple[Any, Any] | None = None,
              **row: Any) -> View:
        span = self.options.ranges.get(key, span)
        entry = {"key": key, "label": label, "value": value, "span": span, "figure": figure(value),
                 "width": None, "of": "", "norm": None, "notes": [], **row}
        if span is not None:
            low, high = span
            entry["width"] = 100 * fraction(value - low if is_number(value) else value, high - low)
            entry["of"] = f"of {figure(high)}" if low == 0 else f"(range {figure(low)} to {figure(high)})"
        if self.options.norms is not None and is_number(value):
            entry["norm"] = self.options.norms.lookup(key, value)
        self.scales.append(entry)
        return entry

    def bars(self, section: str, values: Mapping[str, Any], kind: str, names: Mapping[str, str]) -> list[View]:
        return [self.scale(field_name(section, key), (kind, names.get(key, key)), value, code=key, dominant=False)
                for key, value in values.items()]

    def personality(self, section: Mapping[str, Any]) -> View:
        title = text(section.get("title"))
        pairs = []
        for position, (left, right) in enumerate(POLE_PAIRS):
            shares = section.get(left), section.get(right)
            lean = title[position] if len(title) == 4 and title[position] in (left, right) else None
            even = shares[0] == shares[1]
            poles = [{"letter": letter, "name": POLE_NAMES[letter], "share": pole_share(share),
                      "leaned": letter == lean and not even} for letter, share in zip((left, right), shares)]
            self.scale(field_name("Personality_Type", left), ("Personality", f"{POLE_NAMES[left]} ({left}) share"),
                       shares[0], (0, 1))
            width = 100 * fraction(shares[0 if lean == left else 1], 1)
            pairs.append({"poles": poles, "even": even, "lean": None if even else lean,
                          "x": 0 if lean == left else 100 - width, "width": 0 if even else width})
        return {"title": title, "pairs": pairs}

    def trait(self, trait: Mapping[str, Any]) -> View:
        name = text(trait.get("name"))
        return self.scale(field_name("Traits", trait.get("name"), "score"), ("Trait", name), trait.get("score"),
                          name=name, id=text(trait.get("id")), level=text(trait.get("level")))

    def space(self, space: Mapping[str, Any]) -> View:
        place = ("Spaces", space.get("space_name"))
        name = text(place[1])
        entry = self.banded(field_name(*place, "percentage"), ("Space", name), space, "space_id", SPACE_BANDS)
        entry["aspects"] = [self.aspect(aspect, place, (name,)) for aspect in space.get("aspects") or []]
        return entry

    def aspect(self, aspect: Mapping[str, Any], holder: tuple[Any, ...], holders: tuple[str, ...]) -> View:
        place = (*holder, aspect.get("aspect_name"))
        name = text(place[-1])
        entry = self.banded(field_name(*place, "percentage"), ("Aspect", name, *holders), aspect,
                            "aspect_id", ASPECT_BANDS)
        entry["skills"] = [self.skill(skill, place, (*holders, name)) for skill in aspect.get("skills") or []]
        return entry

    def skill(self, skill: Mapping[str, Any], holder: tuple[Any, ...], holders: tuple[str, ...]) -> View:
        name = text(skill.get("skill_name"))
        return self.scale(field_name(*holder, skill.get("skill_name"), "score"), ("Skill", name, *holders),
                          skill.get("score"), name=name, id=text(skill.get("skill_id")),
                          level=text(skill.get("level")))

    def banded(self, key: str, label: tuple[str, ...], entry: Mapping[str, Any], id_key: str,
               bands: list[tuple[str, int]]) -> View:
        """A space or aspect: its percentage drawn against its level bands, each band named with its range."""
        percentage = entry.get("percentage")
        spans = []
        for (level, low), band in zip(bands, band_texts(bands, "%")):
            upper = next((bound for _, bound in bands if bound > low), 100)
            spans.append({"level": level, "x": low, "width": upper - low, "range": band})
        # The bands stand on the percentage's own axis, 0 to 100, whatever range the scale can reach.
        return self.scale(key, label, percentage, (0, 100), name=label[1], id=text(entry.get(id_key)),
                          level=text(entry.get("level")), percent=percent(percentage), bands=spans,
                          mark=100 * fraction(percentage, 100))


def report_view(report: Mapping[str, Any], options: PageOptions) -> View:
    page = _Page(options)
    learning = report.get("vak") or {}
    styles = {key: value for key, value in learning.items() if key != "type"}
    view: View = {
        "options": options, "client": text(report.get("client_id")),
        "personality": page.personality(report.get("Personality_Type") or {}),
        "learning": {"type": text(learning.get("type")),
                     "bars": page.bars("vak", styles, "Learning style", {key: key.capitalize() for key in styles})},
        "emotions": page.bars("Emotional_Intelligance", report.get("Emotional_Intelligance") or {},
                              "Emotional intelligence", EMOTION_NAMES),
        "roles": page.bars("Roles", report.get("Roles") or {}, "Team role", ROLE_NAMES),
        "traits": [page.trait(trait) for trait in report.get("Traits") or []],
        "spaces": [page.space(space) for space in report.get("Spaces") or []],
        "scales": page.scales,
    }
    for row in view["learning"]["bars"]:
        row["dominant"] = row["label"][1] == view["learning"]["type"]
    view["leading"] = leading_roles(view["roles"])
    view["roles"] = sorted(view["roles"], key=_ranking)
    view["notes"] = notes(options.warnings, page.scales)
    view["guide"] = reading_guide()
    view["without_bars"] = any(row["span"] is None for row in page.scales)
    return view


def leading_roles(roles: list[View]) -> list[str]:
    """The role or roles of the highest total."""
    totals = [row["value"] for row in roles if is_number(row["value"])]
    return [f"{row['label'][1]} ({row['code']})" for row in roles if totals and row["value"] == max(totals)]


def notes(warnings: Sequence[tuple[str | None, str]], scales: list[View]) -> list[View]:
    """The warnings about the instrument, numbered, each marked on the rows of its scale."""
    rows = {row["key"]: row for row in scales}
    listed = []
    for number, (key, message) in enumerate(warnings, start=1):
        row = rows.get(key) if key is not None else None
        if row is not None:
            row["notes"].append(number)
        listed.append({"number": number, "label": row["label"] if row else (key,) if key else None,
                       "text": message})
    return listed


def band_texts(bands: list[tuple[str, int]], unit: str = "") -> list[str]:
    """Each band's range in words: integer totals, or percentages when ``unit`` is "%"."""
    suffix = f" {unit}" if unit else ""
    texts = []
    for (_, low), following in zip(bands, [*(bound for _, bound in bands[1:]), None]):
        if following is None:
            texts.append(f"{low}{suffix} or more")
        elif low == bands[0][1]:
            texts.append(f"below {following}{suffix}")
        else:
            texts.append(f"{low}{suffix} to under {following}{suffix}" if unit else f"{low} to {following - 1}")
    return texts


def reading_guide() -> list[View]:
    """What each level means and its band, by what the levels rate."""
    rated = {"trait": ("Traits", "total", ""), "skill": ("Skills", "total", ""),
             "aspect": ("Aspects", "percentage", "%"), "space": ("Spaces", "percentage", "%")}
    guide = []
    for kind, bands in level_bands().items():
        heading, measure, unit = rated[kind]
        levels = [{"level": level, "band": band, "meaning": LEVEL_MEANINGS.get(level, "")}
                  for (level, _), band in zip(reversed(bands), reversed(band_texts(bands, unit)))]
        guide.append({"kind": heading, "measure": measure, "levels": levels})
    return guide


def _ranking(row: View) -> float:
    return -row["value"] if is_number(row["value"]) else math.inf


# --- values as the pages show them ---------------------------------------------------------------

def is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def text(value: Any) -> str:
    """A database cell or identifier as the page shows it."""
    if value is None:
        return "none"
    if isinstance(value, bytes):
        return f"{len(value)} bytes"
    return str(value)


def isolated(value: Any) -> str:
    """A name for plain text (a title, a tooltip), isolated for bidirectional text as <bdi> isolates
    it in the page: a right-to-left override inside it ends with it."""
    return f"\u2068{text(value)}\u2069"


def figure(value: Any) -> str:
    """A total or score: integers as they are, reals to two decimals."""
    if isinstance(value, float) and math.isfinite(value):
        return f"{value:.2f}"
    return "not a number" if isinstance(value, float) else text(value)


def percent(value: Any) -> str:
    return f"{value:.2f} %" if is_number(value) else figure(value)


def fraction(value: Any, whole: float) -> float:
    """The share of the bar a value fills: 0 for what is no number, never beyond the bar."""
    if not is_number(value) or not is_number(whole) or whole <= 0:
        return 0.0
    share: float = value / whole
    return min(max(share, 0.0), 1.0)


def pole_share(value: Any) -> str:
    return f"{100 * value:.0f} %" if is_number(value) else figure(value)


# --- the cohort's index ------------------------------------------------------------------------

class _CohortIndex:
    """A cohort's index while its pages are written: the summary in memory, the rows of its clients
    and of its failures spooled to temporary files, so memory stays flat however many clients come."""

    def __init__(self, options: PageOptions, reliability: Mapping[str, Reliability]) -> None:
        self.options, self.reliability = options, reliability
        self.summary = CohortSummary()
        self.rows: Any = _template("index_rows.html.j2").module  # its macros, as attributes
        self.clients: IO[str] = tempfile.TemporaryFile("w+", encoding="utf-8")
        self.failures: IO[str] = tempfile.TemporaryFile("w+", encoding="utf-8")

    def __enter__(self) -> _CohortIndex:
        return self

    def __exit__(self, *_: object) -> None:
        self.clients.close()
        self.failures.close()

    def add(self, directory: Path, position: int, client_id: Any, result: Any, line: Any) -> None:
        """Writes the client's page, if it scored, and counts it in."""
        if not isinstance(result, Mapping):
            self.failure(client_id, result, line)
            return
        page = f"{position:04d}-{_file_stem(client_id)}.html"
        view = report_view(result, self.options)
        (directory / page).write_text(_render_page(view), encoding="utf-8")
        self.scored(page, view)

    def record(self, page: str | None, client_id: Any, result: Any, line: Any) -> None:
        if isinstance(result, Mapping) and page is not None:
            self.scored(page, report_view(result, self.options))
        else:
            self.failure(client_id, result, line)

    def scored(self, page: str, view: View) -> None:
        summary = self.summary
        summary.scored += 1
        summary.types[view["personality"]["title"]] += 1
        summary.learning[view["learning"]["type"]] += 1
        summary.leading_roles.update(view["leading"])
        for row in view["scales"]:
            summary.add_scale(row["key"], row["label"], row["value"], row["span"])
        self.clients.write(self.rows.client_row(page, view))

    def failure(self, client_id: Any, error: Any, line: Any) -> None:
        self.summary.failed += 1
        reason = f"{type(error).__name__}: {error}" if isinstance(error, BaseException) else text(error)
        self.failures.write(self.rows.failure_row(text(line), text(client_id), reason))

    def render(self, state: str) -> Iterator[str]:
        return _template("index.html.j2").generate(
            options=self.options, summary=self.summary, state=state, reliability=self.reliability,
            scales=[scale_summary(key, values) for key, values in self.summary.scales.items()],
            clients=_spooled(self.clients), failures=_spooled(self.failures))

    def write(self, index: Path, state: str) -> None:
        """Replaces ``index`` whole, so a reader (or a run stopped mid-write) never meets half of it."""
        partial = index.with_name(f".{index.name}.partial")
        try:
            with open(partial, "w", encoding="utf-8") as out:
                out.writelines(self.render(state))
            os.replace(partial, index)
        finally:
            partial.unlink(missing_ok=True)


def scale_summary(key: str, values: ScaleValues) -> View:
    bins = values.bins(values.span)
    tallest = max((b.clients for b in bins), default=0)
    return {"key": key, "stats": values, "mean": values.mean(), "sd": values.sd(), "bins": bins,
            "bars": [{"x": 100 * step / len(bins), "width": 100 / len(bins),
                      "height": 28 * fraction(b.clients, tallest)} for step, b in enumerate(bins)]}


def _spooled(spool: IO[str]) -> Iterator[Any]:
    from markupsafe import Markup

    spool.flush()
    spool.seek(0)
    for chunk in iter(lambda: spool.read(1 << 16), ""):
        yield Markup(chunk)  # rows rendered and escaped when they were spooled


# --- templates ---------------------------------------------------------------------------------

@cache
def _environment() -> jinja2.Environment:
    try:
        import jinja2
    except ModuleNotFoundError as missing:
        raise ModuleNotFoundError(
            "HTML reports need Jinja2: pip install 'ardo_old[html]'", name=missing.name) from None
    environment = jinja2.Environment(loader=jinja2.PackageLoader("ardo_old", "templates"),
                                     autoescape=True, undefined=jinja2.StrictUndefined,
                                     trim_blocks=True, lstrip_blocks=True)
    environment.filters.update(figure=figure, isolated=isolated, percent=percent,
                               drawn=lambda rows: any(row["width"] is not None for row in rows))
    return environment


def _template(name: str) -> jinja2.Template:
    return _environment().get_template(name)


def _render_page(view: View) -> str:
    return _template("report.html.j2").render(view=view, **view)


def _file_stem(client_id: Any) -> str:
    return re.sub(r"[^A-Za-z0-9_-]+", "_", text(client_id))[:40].strip("_") or "client"
