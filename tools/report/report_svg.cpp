// The page's pictures: a process's timeline and its read durations as
// inline SVG. Calls whose bars would be narrower than a pixel share one bar
// per pixel column and kind, so a trace of 333,000 lines still draws at most
// a few thousand shapes per connection.
#include "report.h"
#include <algorithm>
#include <math.h>
#include <string.h>

enum {
    PLOT_WIDTH = 1000,   // pixels for the process's time
    LABEL_WIDTH = 180,   // the lanes' names on the left
    AXIS_HEIGHT = 24,
    LANE_HEIGHT = 22,
    BAR_TOP = 6,         // within a lane: room above for error marks
    BAR_HEIGHT = 13,
    HISTOGRAM_HEIGHT = 120,
    BINS_PER_DECADE = 5,
    PACKED_ABOVE = 40,   // connections a process shows in lanes of their own
};

// The calls of one kind that fall into one pixel column of a lane.
struct Column {
    int count;
    int first, last;
    int marked;
    double longestMs;
    double busyMs;
};

// The line a call's bar shows: its end line, or its start line.
static const char* LineOf(const TracedCall& c)
{
    return c.endLine ? c.endLine : c.startLine;
}

// The classes of a call's bar: a close or reset by the server is marked as
// an error is.
static const char* TroubleClasses(CallTrouble trouble)
{
    switch (trouble) {
    case TROUBLE_ERROR: return " error";
    case TROUBLE_CLOSED:
    case TROUBLE_RESET: return " error ending";
    case TROUBLE_HANG: return " hang";
    default: return "";
    }
}

static bool Marked(const TracedCall& c)
{
    CallTrouble trouble = TroubleOf(c);
    return trouble != TROUBLE_NONE && trouble != TROUBLE_HANG;
}

// A call's own bar; one that never ended runs as long as it is known to
// have waited, to an arrowhead and the words "never ended".
static void WriteBar(FILE* page, const TracedCall& c, double x, double width, int y)
{
    if (c.neverEnded)
        width = std::max(width, 4.0);
    fprintf(page, "<rect class=\"call k%d%s\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"><title>", c.read.kind,
            TroubleClasses(TroubleOf(c)), LABEL_WIDTH + x, y + BAR_TOP, std::max(width, 1.0), BAR_HEIGHT);
    WriteEscaped(page, LineOf(c));
    if (c.neverEnded)
        fprintf(page, "\n(never ended: %s)", WaitedText(c).c_str());
    fputs("</title></rect>\n", page);
    if (Marked(c))
        fprintf(page, "<path class=\"mark\" d=\"M%.1f %dl-3 -5h6z\"/>\n", LABEL_WIDTH + x, y + BAR_TOP);
    if (c.neverEnded)
        fprintf(page, "<path class=\"hangmark\" d=\"M%.1f %dl7 %dl-7 %dz\"/><text class=\"hangmark\" x=\"%.1f\" "
                      "y=\"%d\">never ended</text>\n",
                LABEL_WIDTH + x + width, y + BAR_TOP - 2, BAR_HEIGHT / 2 + 2, BAR_HEIGHT / 2 + 2,
                LABEL_WIDTH + x + width + 9, y + BAR_TOP + 10);
}

// The calls of one pixel column: a lone call as its own bar; several as one
// bar per kind, stacked, each as high as its share of the column's busy time.
static void WriteColumn(FILE* page, const Trace* t, const Column* kinds, int at, int y)
{
    int count = 0;
    double busyMs = 0;
    for (int kind = 0; kind < RAVO_EXPORT_COUNT; kind++) {
        count += kinds[kind].count;
        busyMs += kinds[kind].busyMs;
    }
    if (count == 1)
        for (int kind = 0; kind < RAVO_EXPORT_COUNT; kind++)
            if (kinds[kind].count)
                WriteBar(page, t->calls[kinds[kind].first], at, 1, y);
    if (count < 2)
        return;
    double bottom = y + BAR_TOP + BAR_HEIGHT;
    for (int kind = 0; kind < RAVO_EXPORT_COUNT; kind++) {
        const Column& col = kinds[kind];
        if (!col.count)
            continue;
        double share = busyMs > 0 ? col.busyMs / busyMs : (double)col.count / count;
        double height = std::max(1.0, BAR_HEIGHT * share);
        bottom -= height;
        const TracedCall& first = t->calls[col.first];
        fprintf(page, "<rect class=\"calls k%d%s\" x=\"%d\" y=\"%.1f\" width=\"1\" height=\"%.1f\"><title>", kind,
                col.marked ? " error" : "", LABEL_WIDTH + at, bottom, height);
        fprintf(page, "%d call%s of %s from %s to %s, the longest %.3f ms, %d with an error code or a close by the "
                      "server; the first:\n",
                col.count, col.count == 1 ? "" : "s", RAVO_EXPORT_LIST[kind].name, StartStamp(first).c_str(),
                EndStamp(t->calls[col.last]).c_str(), col.longestMs, col.marked);
        WriteEscaped(page, LineOf(first));
        fputs("</title></rect>\n", page);
    }
}

static void WriteLane(FILE* page, const Trace* t, const std::vector<int>& calls, int lane, const std::string& label,
                      double t0, double scale)
{
    int y = AXIS_HEIGHT + lane * LANE_HEIGHT;
    fprintf(page, "<text x=\"4\" y=\"%d\">", y + BAR_TOP + 10);
    WriteEscaped(page, label.c_str());
    fprintf(page, "</text><rect class=\"lane\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"/>\n", LABEL_WIDTH,
            y + BAR_TOP - 2, PLOT_WIDTH, BAR_HEIGHT + 4);
    // The calls come in the order they started, so the pixel columns come
    // in order too: one column's calls are gathered, drawn, then forgotten.
    Column kinds[RAVO_EXPORT_COUNT] = {};
    int at = -1;
    for (int i : calls) {
        const TracedCall& c = t->calls[i];
        double x0 = (c.startMs - t0) * scale, x1 = (c.endMs - t0) * scale;
        if (x1 - x0 >= 1 || c.neverEnded) {
            WriteBar(page, c, x0, x1 - x0, y);
            continue;
        }
        int column = std::min(std::max((int)x0, 0), PLOT_WIDTH - 1);
        if (column != at) {
            WriteColumn(page, t, kinds, at, y);
            memset(kinds, 0, sizeof kinds);
            at = column;
        }
        Column* col = &kinds[c.read.kind];
        if (col->count++ == 0)
            col->first = i;
        col->last = i;
        col->marked += Marked(c);
        col->longestMs = std::max(col->longestMs, c.durationMs);
        col->busyMs += c.durationMs;
    }
    WriteColumn(page, t, kinds, at, y);
}

void WriteTimeline(FILE* page, const Trace* t, int process)
{
    const TracedProcess& p = t->processes[process];
    if (p.calls.empty())
        return;
    double t0 = p.firstMs, t1 = p.lastMs;
    std::vector<int> outside;
    for (int i : p.calls) {
        t0 = std::min(t0, t->calls[i].startMs);
        t1 = std::max(t1, t->calls[i].endMs);
        if (t->calls[i].connection < 0)
            outside.push_back(i);
    }
    double span = std::max(t1 - t0, 0.001), scale = PLOT_WIDTH / span;
    // One lane per connection; beyond PACKED_ABOVE connections, one after
    // another share a lane, so a host connecting per query gets as many
    // lanes as it had connections open at once.
    bool packed = p.connections.size() > PACKED_ABOVE;
    std::vector<std::vector<int>> laneCalls;
    std::vector<double> laneEnds;
    std::vector<int> laneFirst, laneCounts;
    for (size_t k = 0; k < p.connections.size(); k++) {
        const TracedConnection& c = t->connections[p.connections[k]];
        double from = t->calls[c.calls.front()].startMs, until = from;
        for (int i : c.calls)
            until = std::max(until, t->calls[i].endMs);
        size_t lane = 0;
        while (packed && lane < laneEnds.size() && laneEnds[lane] > from)
            lane++;
        if (!packed || lane == laneEnds.size()) {
            lane = laneEnds.size();
            laneCalls.emplace_back();
            laneEnds.push_back(until);
            laneFirst.push_back((int)k);
            laneCounts.push_back(0);
        }
        laneCalls[lane].insert(laneCalls[lane].end(), c.calls.begin(), c.calls.end());
        laneEnds[lane] = std::max(laneEnds[lane], until);
        laneCounts[lane]++;
    }
    int lanes = (int)laneCalls.size() + !outside.empty();
    fprintf(page, "<svg class=\"timeline\" width=\"%d\" height=\"%d\">\n", LABEL_WIDTH + PLOT_WIDTH + 80,
            AXIS_HEIGHT + lanes * LANE_HEIGHT + 4);
    for (int tick = 0; tick <= 4; tick++) {
        int x = LABEL_WIDTH + tick * PLOT_WIDTH / 4;
        fprintf(page, "<line class=\"axis\" x1=\"%d\" y1=\"16\" x2=\"%d\" y2=\"%d\"/>", x, x,
                AXIS_HEIGHT + lanes * LANE_HEIGHT);
        fprintf(page, "<text x=\"%d\" y=\"12\" text-anchor=\"%s\">%s</text>\n", x, tick ? "middle" : "start",
                ClockText(t0 + span * tick / 4, tick == 0).c_str());
    }
    for (size_t lane = 0; lane < laneCalls.size(); lane++) {
        const TracedConnection& first = t->connections[p.connections[laneFirst[lane]]];
        std::string label = Format("connection %d", first.number);
        if (laneCounts[lane] > 1)
            label = Format("%d connections from %d", laneCounts[lane], first.number);
        else if (first.socket >= 0)
            label += Format(", socket %ld", first.socket);
        WriteLane(page, t, laneCalls[lane], (int)lane, label, t0, scale);
    }
    if (!outside.empty())
        WriteLane(page, t, outside, (int)laneCalls.size(), "outside connections", t0, scale);
    fputs("</svg>\n", page);
}

void WriteHistogram(FILE* page, const Trace* t, int process)
{
    std::vector<double> reads;
    for (int i : t->processes[process].calls)
        if (t->calls[i].read.kind == RAVO_INDEX(_netread) && !t->calls[i].neverEnded)
            reads.push_back(std::max(t->calls[i].durationMs, 0.001));
    if (reads.empty())
        return;
    // Bins of equal width on a log scale, from the decade below the
    // shortest read to the decade above the longest.
    auto range = std::minmax_element(reads.begin(), reads.end());
    int low = (int)floor(log10(*range.first)), high = std::max((int)ceil(log10(*range.second)), low + 1);
    int bins = (high - low) * BINS_PER_DECADE, width = std::max(8, 600 / bins), most = 1;
    std::vector<int> counts(bins);
    for (double ms : reads) {
        int bin = std::min((int)((log10(ms) - low) * BINS_PER_DECADE), bins - 1);
        most = std::max(most, ++counts[bin]);
    }
    // The counts on a log scale too, from 0.1 up: a bin of one read stands a
    // decade high beside a bin of hundreds.
    double decades = 1 + log10((double)most);
    auto heightOf = [decades](int count) { return (int)ceil(HISTOGRAM_HEIGHT * (1 + log10(count)) / decades); };
    fprintf(page, "<h3>How long the reads took (%d read%s; counts on a logarithmic scale)</h3>\n"
                  "<svg class=\"histogram\" width=\"%d\" height=\"%d\">\n",
            (int)reads.size(), reads.size() == 1 ? "" : "s", 60 + bins * width, HISTOGRAM_HEIGHT + 40);
    for (int count = 1; count <= most; count *= 10) {
        int y = 10 + HISTOGRAM_HEIGHT - heightOf(count);
        fprintf(page, "<line class=\"axis\" x1=\"36\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/><text x=\"0\" y=\"%d\">%d</text>\n",
                y, 40 + bins * width, y, y + 4, count);
    }
    for (int bin = 0; bin < bins; bin++) {
        int height = counts[bin] ? heightOf(counts[bin]) : 0;
        double from = pow(10.0, low + (double)bin / BINS_PER_DECADE), to = pow(10.0, low + (bin + 1.0) / BINS_PER_DECADE);
        fprintf(page, "<rect class=\"bin\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"><title>%d reads from %g to %g "
                      "ms</title></rect>\n",
                40 + bin * width, 10 + HISTOGRAM_HEIGHT - height, width - 1, height, counts[bin], from, to);
        if (bin % BINS_PER_DECADE == 0)
            fprintf(page, "<text x=\"%d\" y=\"%d\">%g ms</text>\n", 40 + bin * width, HISTOGRAM_HEIGHT + 28, from);
    }
    fputs("</svg>\n", page);
}
