# Reads an exported HTML page back as a browser's parser would (Python's html.parser) and prints, as
# JSON, the tag errors (an end tag that closes no open element, elements left open), the placeholders
# of the templates still in the raw text, and every element with its classes and its text.
import html.parser
import json
import sys

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr", "param"}
PLACEHOLDERS = [
    "css", "projects", "timers",
    "project_name", "client_name_label", "client_name", "hourly_rate_label", "hourly_rate", "notes",
    "date_label", "notes_label", "duration_label", "cost_label", "billed_label", "sum_label",
    "duration_sum", "cost_sum", "pause_label", "project_client_name_hidden", "project_hourly_rate_hidden",
    "project_notes_hidden", "timer_pause_hidden", "timer_hourly_rate_hidden", "timer_cost_hidden",
    "timer_billed_hidden", "timer_notes_hidden", "duration_hidden",
    "date", "duration", "pause", "cost", "billed",
]


class Reader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.open = []
        self.elements = []
        self.errors = []

    def handle_starttag(self, tag, attrs):
        classes = []
        for name, value in attrs:
            if name == "class" and value:
                classes = value.split()
        element = {"tag": tag, "classes": classes, "text": ""}
        self.elements.append(element)
        if tag not in VOID:
            self.open.append(element)

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.open.pop()

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.open or self.open[-1]["tag"] != tag:
            self.errors.append("unexpected </%s>" % tag)
            return
        self.open.pop()

    def handle_data(self, data):
        for element in self.open:
            element["text"] += data


def main():
    with open(sys.argv[1], encoding="utf-8") as page:
        raw = page.read()
    reader = Reader()
    reader.feed(raw)
    reader.close()
    errors = reader.errors + ["<%s> not closed" % element["tag"] for element in reader.open]
    left = [name for name in PLACEHOLDERS if ("%" + name + "%") in raw]
    print(json.dumps({"errors": errors, "placeholders": left, "elements": reader.elements}))


main()
