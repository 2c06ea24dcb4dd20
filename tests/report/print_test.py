#!/usr/bin/env python3
"""The report as a customer gets it: a demo session's journal and site file
through `busdesk-cli report`, then checked by tidy, drawn and printed by
headless Chromium, and the PDF read back with poppler's utilities.

    print_test.py BUSDESK-CLI WORK-DIR

WORK-DIR is emptied first and keeps everything made (report, PNG, PDF, tool
output) for a look after a failure. Exits 77 (skipped) when a tool is missing,
unless CI=true, where a missing tool fails the test.
"""
import html.parser
import json
import os
import pathlib
import re
import shutil
import signal
import struct
import subprocess
import sys

TOOLS = ["tidy", "chromium", "pdfinfo", "pdftotext", "pdffonts"]
# A process that outlives this is killed with everything it started.
TOOL_SECONDS = 60
SESSION_SECONDS = 180

# One session with every kind of change a report lists, and the site file read
# at its end.
PLAN = """\
survey
set-address 5 15
calibrate 1 high --yes
write-tag 1 1A2B3C4D --interval 900
inventory -o site.json --tags 4
"""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(args, work, env, seconds=TOOL_SECONDS, ok_codes=(0,)):
    """Runs a program in a session of its own and kills that whole session
    when the time is up, so a browser that hangs never hangs the test."""
    with open(os.path.join(work, "last.out"), "wb") as out:
        proc = subprocess.Popen(args, cwd=work, env=env, stdout=subprocess.PIPE,
                                stderr=out, stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            stdout, _ = proc.communicate(timeout=seconds)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            raise Failure(f"{args[0]} still running after {seconds} s: killed")
        finally:
            # Helpers a browser leaves behind (its crash handler) go with it.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    with open(os.path.join(work, "last.out"), encoding="utf-8", errors="replace") as f:
        stderr = f.read()
    text = stdout.decode("utf-8", errors="replace")
    check(proc.returncode in ok_codes,
          f"{' '.join(args)}: exit {proc.returncode}\n{text[-2000:]}\n{stderr[-2000:]}")
    return proc.returncode, text, stderr


def hermetic_env(work):
    """HOME and the XDG folders inside the work folder, and no proxy from the
    caller: the browser writes nothing outside and reaches nothing outside."""
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    home = os.path.join(work, "home")
    for name, sub in (("HOME", ""), ("XDG_CONFIG_HOME", ".config"), ("XDG_CACHE_HOME", ".cache"),
                      ("XDG_DATA_HOME", ".local/share"), ("XDG_RUNTIME_DIR", "run")):
        path = os.path.join(home, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[name] = path
    env["LANG"] = "C.UTF-8"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def chromium(work, env, *action):
    profile = os.path.join(work, "home", "chromium-profile")
    run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--no-default-browser-check", "--disable-extensions", "--disable-sync",
         "--disable-background-networking", "--disable-component-update",
         # Nothing leaves the machine: names resolve nowhere, a proxy that is not there.
         "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
         f"--user-data-dir={profile}", "--hide-scrollbars", *action,
         pathlib.Path(work, "report.html").as_uri()], work, env)


class Outline(html.parser.HTMLParser):
    """The report's sections in order with their headings, the captions of
    its trend charts, and its stylesheet."""

    def __init__(self):
        super().__init__()
        self.headings = []
        self.section_ids = []
        self.captions = []
        self.css = ""
        self._in_h2 = False
        self._in_caption = False
        self._in_style = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "section" and "part" in (a.get("class") or "").split():
            self.section_ids.append(a.get("id"))
        if tag == "h2" and self.section_ids and len(self.headings) < len(self.section_ids):
            self._in_h2 = True
            self.headings.append("")
        if tag == "figcaption":
            self._in_caption = True
            self.captions.append("")
        self._in_style = tag == "style"

    def handle_endtag(self, tag):
        if tag == "h2":
            self._in_h2 = False
        if tag == "figcaption":
            self._in_caption = False
        if tag == "style":
            self._in_style = False

    def handle_data(self, data):
        if self._in_h2:
            self.headings[-1] += data
        if self._in_caption:
            self.captions[-1] += data
        if self._in_style:
            self.css += data

    @property
    def embedded_faces(self):
        return re.search(r'@font-face\s*\{[^}]*"BusDesk Sans"', self.css) is not None


def squeeze(text):
    return " ".join(text.split())


def make_report(cli, work):
    with open(os.path.join(work, "site12.plan"), "w", encoding="utf-8") as f:
        f.write(PLAN)
    env = dict(os.environ, LANG="C.UTF-8")
    run([cli, "--demo", "--journal", "day.jsonl", "run", "site12.plan"], work, env,
        seconds=SESSION_SECONDS)
    run([cli, "report", "--journal", "day.jsonl", "--site", "site.json", "-o", "report.html"],
        work, env)
    with open(os.path.join(work, "site.json"), encoding="utf-8") as f:
        site = json.load(f)
    with open(os.path.join(work, "report.html"), encoding="utf-8") as f:
        return site, f.read()


def check_tidy(work, env):
    # Neither errors nor warnings: tidy 5.6 knows HTML5 well enough for this
    # page (the charts' own <style> is taken out of the SVG into the head, so
    # its complaint about a <style> in the body does not arise).
    code, _, said = run(["tidy", "-q", "-e", "-utf8", "report.html"], work, env,
                        ok_codes=(0, 1, 2))
    check(code == 0 and not said.strip(), "tidy:\n" + said)


def check_png(path):
    with open(path, "rb") as f:
        head = f.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is not a PNG")
    width, height = struct.unpack(">II", head[16:24])
    check((width, height) == (1200, 1600), f"screenshot {width}x{height}, not 1200x1600")


def page_texts(work, env, pages):
    texts = []
    for n in range(1, pages + 1):
        _, text, _ = run(["pdftotext", "-f", str(n), "-l", str(n), "-layout", "report.pdf", "-"],
                         work, env)
        texts.append(squeeze(text))
    return texts


def check_not_shrunk(work, env, outline):
    """A browser prints everything smaller when one thing is wider than the
    page (an unbreakable table, say), without a word. The title's words show
    it: their boxes are the face's ascent plus descent (1.164 em for DejaVu
    Sans and the faces cut from it) at the size the stylesheet gives."""
    sizes = re.findall(r"\bh1\s*\{[^}]*?font-size:\s*([\d.]+)pt", outline.css)
    check(sizes, "no size in pt for the report's <h1> in its stylesheet")
    _, boxes, _ = run(["pdftotext", "-f", "1", "-l", "1", "-bbox", "report.pdf", "-"], work, env)
    word = re.search(r'<word xMin="[\d.]+" yMin="([\d.]+)" xMax="[\d.]+" yMax="([\d.]+)"', boxes)
    check(word, "no words on the first page")
    height, expected = float(word[2]) - float(word[1]), float(sizes[-1]) * 1.164
    check(abs(height / expected - 1) < 0.05,
          f"printed at {height / expected:.0%} of its size: something is wider than A4")


def check_pdf(work, env, site, outline):
    _, info, _ = run(["pdfinfo", "report.pdf"], work, env)
    pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
    size = re.search(r"^Page size:\s+([\d.]+) x ([\d.]+) pts", info, re.M)
    # A4 is 595.28 x 841.89 points.
    check(size and abs(float(size.group(1)) - 595.3) < 1 and abs(float(size.group(2)) - 841.9) < 1,
          f"not A4: {size.group(0) if size else info}")
    texts = page_texts(work, env, pages)
    check_not_shrunk(work, env, outline)
    for n, text in enumerate(texts, 1):
        check(text, f"page {n} of {pages} is empty")

    # Each section starts a page of its own, in order, its heading the first
    # text there (the head shares the first page with the first section). The
    # demo's tables fit one page each, so every section but the trends is one
    # page long. The trends hold one chart a device, never cut: they may run
    # on over more pages, each holding whole charts only (as many band titles
    # "Темп-ра" as captions), at most a page a chart. A missing break, a blank
    # page or a chart cut in two all break this.
    headings = [squeeze(h) for h in outline.headings]
    check(len(headings) == len(outline.section_ids) and all(headings),
          f"a section without its <h2>: {outline.section_ids} {headings}")
    starts = []
    for i, heading in enumerate(headings):
        after = starts[-1] if starts else 0
        at = next((n for n in range(after, pages)
                   if texts[n].startswith(heading) or (n == 0 and i == 0 and heading in texts[0])),
                  None)
        check(at is not None, f"section «{heading}» does not start a page after page {after}")
        starts.append(at + 1)
    check(starts[0] == 1, f"the first section starts on page {starts[0]}")
    spans = [b - a for a, b in zip(starts, starts[1:] + [pages + 1])]
    captions = [squeeze(c).split(":")[0] for c in outline.captions]
    check(captions, "no trend charts in the demo's report")
    for sid, heading, start, span in zip(outline.section_ids, headings, starts, spans):
        if sid != "trends":
            check(span == 1, f"section «{heading}» takes pages {start}..{start + span - 1}")
            continue
        check(span <= len(captions), f"{span} pages for {len(captions)} trend charts")
        shown = 0
        for n in range(start, start + span):
            here = sum(c in texts[n - 1] for c in captions)
            bands = texts[n - 1].count("Темп-ра")
            check(here >= 1 and here == bands,
                  f"page {n}: {here} chart captions, {bands} temperature bands")
            shown += here
        check(shown == len(captions), f"{shown} of {len(captions)} trend charts printed")
    check(pages == sum(spans), f"{pages} pages, sections take {spans}")

    whole = " ".join(texts)
    check("Отчёт" in whole, "no «Отчёт» in the PDF's text")
    serials = [str(d["serial"]) for d in site["devices"]]
    check(len(serials) == 3, f"the demo bus has three devices, the site file {serials}")
    tags = [str(t["serial"]) for d in site["devices"] for t in d.get("tags", [])]
    check(tags, "the site file names no tag")
    for serial in serials + tags:
        check(re.search(rf"(?<!\d){serial}(?!\d)", whole), f"serial {serial} not in the PDF")

    # The faces the text was set in are inside the PDF; once the report
    # carries its own, those are the ones used, not the machine's.
    _, fonts, _ = run(["pdffonts", "report.pdf"], work, env)
    rows = [line.split() for line in fonts.splitlines()[2:] if line.strip()]
    check(rows, "no fonts in the PDF")
    for row in rows:
        # name type... emb sub uni object gen: emb is the fifth column from the end.
        check(row[-5] == "yes", f"font not embedded: {' '.join(row)}")
    names = [row[0] for row in rows]
    want = "BusDeskSans" if outline.embedded_faces else "DejaVuSans"
    check(any(re.search(rf"(\+|^){want}(-Bold)?$", n) for n in names),
          f"no {want} among the PDF's fonts: {names}")
    if outline.embedded_faces:
        # The machine's own sans-serif, where the report's faces should have been
        # used (the monospace of the frames' bytes is not among them).
        stray = [n for n in names if re.search(r"(\+|^)DejaVuSans(-Bold)?$", n)]
        check(not stray, f"text set in the machine's sans-serif: {stray}")
    return pages


def main():
    cli, work = sys.argv[1], os.path.abspath(sys.argv[2])
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print(f"missing: {' '.join(missing)} (scripts/deps.sh installs them)")
        return 1 if os.environ.get("CI") == "true" else 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        site, page = make_report(cli, work)
        outline = Outline()
        outline.feed(page)
        env = hermetic_env(work)
        check_tidy(work, env)
        chromium(work, env, "--window-size=1200,1600", "--screenshot=" + os.path.join(work, "r.png"))
        check_png(os.path.join(work, "r.png"))
        chromium(work, env, "--no-pdf-header-footer", "--print-to-pdf=" + os.path.join(work, "report.pdf"))
        pages = check_pdf(work, env, site, outline)
    except Failure as e:
        print(f"FAIL: {e}\n(everything made is in {work})")
        return 1
    print(f"ok: {pages} pages, sections {outline.section_ids}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
