// The report as text, tables in aligned columns. Notes of lines left out go
// to stderr, so that the report itself stays clean.
#include "report.h"
#include <algorithm>
#include <string.h>

static void PrintTable(const ReportItem& t, int indent)
{
    std::vector<size_t> width(t.columns, 0);
    for (size_t i = 0; i < t.cells.size(); i++)
        width[i % t.columns] = std::max(width[i % t.columns], t.cells[i].size());
    for (size_t row = 0; row < t.cells.size(); row += t.columns) {
        printf("%*s", indent, "");
        for (int col = 0; col < t.columns; col++) {
            const std::string& cell = t.cells[row + col];
            bool last = col == t.columns - 1, right = (t.numeric >> col) & 1;
            int pad = (int)(width[col] - cell.size());
            printf("%*s%s%*s%s", right ? pad : 0, "", cell.c_str(), right || last ? 0 : pad, "", last ? "\n" : "  ");
        }
    }
}

void PrintReportText(const Trace* t, const Report* r)
{
    int indent = 0;
    for (const ReportItem& item : *r) {
        switch (item.kind) {
        case ITEM_HEADING:
            indent = 2 * (item.level - 1);
            printf("%s%*s%s\n", "\n", indent - 2 > 0 ? indent - 2 : 0, "", item.text.c_str());
            break;
        case ITEM_TEXT:
            printf("%*s%s\n", indent, "", item.text.c_str());
            break;
        case ITEM_TABLE:
            PrintTable(item, indent);
            break;
        case ITEM_NOTE:
            fprintf(stderr, REPORT_SAYS "%s: %s\n", t->path, item.text.c_str());
            break;
        case ITEM_TIMELINE:
        case ITEM_HISTOGRAM:
            break;
        }
    }
}
