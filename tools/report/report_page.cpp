// The report as one page that needs nothing else (ravoprobe report --html).
// Styles and the one small script are inline, the pictures inline SVG, and
// the page's own policy forbids it to load anything, so it opens offline.
#include "report.h"
#include <errno.h>
#include <string.h>

// One colour per kind of call, a palette in RAVO_EXPORT_LIST's order.
static const char* const KIND_COLOURS[RAVO_EXPORT_COUNT] = {"#8c564b", "#e377c2", "#7f7f7f", "#9467bd", "#2ca02c",
                                                            "#1f77b4", "#ff7f0e", "#17becf", "#bcbd22"};

static const char* const PAGE_STYLE =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222}"
    "h2{border-top:2px solid #999;padding-top:.4em;margin-top:2em}h3{margin:1.2em 0 .3em}"
    "table{border-collapse:collapse;font:12px ui-monospace,monospace;margin:.3em 0}"
    "th,td{border-bottom:1px solid #ddd;padding:1px 8px;text-align:left;vertical-align:top}"
    "td.n,th.n{text-align:right}td:not(:last-child){white-space:nowrap}.note{color:#b00}"
    "svg{display:block;font:11px sans-serif;margin:.5em 0}.lane{fill:#f2f2f2}.axis{stroke:#bbb}"
    ".error{stroke:#d00;stroke-width:1.5}.hang{stroke:#d00;stroke-dasharray:3 2;fill-opacity:.5}"
    ".mark,.hangmark{fill:#d00}.bin{fill:#1f77b4}"
    ".key{padding:0 .5em;margin-right:.3em;color:#fff;cursor:pointer}.key.off{opacity:.3}";

// Clicking a kind in the legend hides or shows its bars.
static const char* const PAGE_SCRIPT =
    "document.querySelectorAll('.key').forEach(function(k){k.onclick=function(){"
    "document.body.classList.toggle('hide'+k.dataset.kind);k.classList.toggle('off');};});";

void WriteEscaped(FILE* page, const char* text)
{
    for (const char* p = text; *p; p++) {
        switch (*p) {
        case '&': fputs("&amp;", page); break;
        case '<': fputs("&lt;", page); break;
        case '>': fputs("&gt;", page); break;
        case '"': fputs("&quot;", page); break;
        default: fputc(*p, page);
        }
    }
}

static void WriteTable(FILE* page, const ReportItem& t)
{
    fputs("<table>\n", page);
    for (size_t row = 0; row < t.cells.size(); row += t.columns) {
        fputs("<tr>", page);
        for (int col = 0; col < t.columns; col++) {
            const char* cell = row ? "td" : "th";
            const char* link = t.links.empty() ? "" : t.links[row + col].c_str();
            fprintf(page, "<%s%s>%s", cell, (t.numeric >> col) & 1 ? " class=\"n\"" : "", *link ? "<a href=\"#" : "");
            if (*link) {
                WriteEscaped(page, link);
                fputs("\">", page);
            }
            WriteEscaped(page, t.cells[row + col].c_str());
            fprintf(page, "%s</%s>", *link ? "</a>" : "", cell);
        }
        fputs("</tr>\n", page);
    }
    fputs("</table>\n", page);
}

// The kinds the trace has, each a key that hides or shows its bars.
static void WriteLegend(FILE* page, const Trace* t)
{
    bool seen[RAVO_EXPORT_COUNT] = {};
    for (const TracedCall& c : t->calls)
        seen[c.read.kind] = true;
    fputs("<p>Calls by kind (click to hide or show): ", page);
    for (int k = 0; k < RAVO_EXPORT_COUNT; k++)
        if (seen[k])
            fprintf(page, "<span class=\"key k%d\" data-kind=\"%d\">%s</span>", k, k, RAVO_EXPORT_LIST[k].name);
    fputs(". Red outline and mark: an error code, or the server closed or reset the connection; dashed, to an "
          "arrowhead and \"never ended\": a call that never ended, as long as it is known to have waited. Hover over "
          "a bar for its trace line; bars narrower than a pixel are drawn together as one.</p>\n", page);
}

static void WriteItems(FILE* page, const Trace* t, const Report* r)
{
    for (const ReportItem& item : *r) {
        switch (item.kind) {
        case ITEM_HEADING:
            fprintf(page, "<h%d", item.level);
            if (!item.anchor.empty()) {
                fputs(" id=\"", page);
                WriteEscaped(page, item.anchor.c_str());
                fputc('"', page);
            }
            fputc('>', page);
            WriteEscaped(page, item.text.c_str());
            fprintf(page, "</h%d>\n", item.level);
            if (item.level == 1)
                WriteLegend(page, t);
            break;
        case ITEM_TEXT:
        case ITEM_NOTE:
            fputs(item.kind == ITEM_NOTE ? "<p class=\"note\">" : "<p>", page);
            WriteEscaped(page, item.text.c_str());
            fputs("</p>\n", page);
            break;
        case ITEM_TABLE:
            WriteTable(page, item);
            break;
        case ITEM_TIMELINE:
            WriteTimeline(page, t, item.process);
            break;
        case ITEM_HISTOGRAM:
            WriteHistogram(page, t, item.process);
            break;
        }
    }
}

bool WriteReportPage(const char* path, const Trace* t, const Report* r)
{
    FILE* page = fopen(path, "wb");
    if (!page) {
        fprintf(stderr, REPORT_SAYS "cannot write the page %s: %s\n", path, strerror(errno));
        return false;
    }
    setvbuf(page, NULL, _IOFBF, 1 << 16);
    fputs("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
          "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n<title>ravoprobe report: ",
          page);
    WriteEscaped(page, t->path);
    fprintf(page, "</title>\n<style>%s", PAGE_STYLE);
    for (int k = 0; k < RAVO_EXPORT_COUNT; k++)
        fprintf(page, ".k%d{fill:%s;background:%s}body.hide%d rect.k%d{display:none}", k, KIND_COLOURS[k],
                KIND_COLOURS[k], k, k);
    fputs("</style></head><body>\n", page);
    WriteItems(page, t, r);
    fprintf(page, "<script>%s</script>\n</body></html>\n", PAGE_SCRIPT);
    bool written = !ferror(page);
    if (fclose(page) != 0 || !written) {
        fprintf(stderr, REPORT_SAYS "writing the page %s failed\n", path);
        return false;
    }
    return true;
}
