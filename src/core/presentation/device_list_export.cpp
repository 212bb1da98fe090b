#include "presentation/device_list_export.h"

#include <vector>

#include "config/language.h"
#include "presentation/csv_text.h"

namespace fd {

namespace {
bool HasText(ColumnContent c) {
    return c != ColumnContent::Tick && c != ColumnContent::Operate;
}
}  // namespace

std::string SpreadsheetSafe(std::string text) {
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r')) {
        text.insert(text.begin(), '\'');
    }
    return text;
}

DeviceListExport ExportDeviceList(IDeviceStore& store, IDeviceEngine* engine,
                                  std::span<const DeviceColumn> columns, int sortColumn,
                                  bool ascending, const std::string& filter) {
    DeviceListExport out;
    std::vector<std::string> fields;
    for (const DeviceColumn& c : columns) {
        if (HasText(c.content)) fields.push_back(SpreadsheetSafe(GetLangText(c.header)));
    }
    out.csv = CsvLine(fields);

    // Whole pages of the largest size; the last one carries the discovered-only devices.
    DeviceListModel list(store, engine, columns);
    list.SetPageSize(kPageSizes.back());
    int page = 1;
    int pageCount = 1;
    do {
        const DeviceListPage& shown = list.Reload(page, ascending, sortColumn, filter);
        if (!shown.queryOk) break;
        for (const DeviceRow& row : shown.rows) {
            fields.clear();
            for (std::size_t c = 0; c < columns.size() && c < row.cells.size(); ++c) {
                if (HasText(columns[c].content)) fields.push_back(SpreadsheetSafe(row.cells[c]));
            }
            out.csv += CsvLine(fields);
            ++out.rows;
        }
        // The store may shrink while we read; its latest count decides.
        pageCount = shown.pageCount;
        ++page;
    } while (page <= pageCount);
    return out;
}

}  // namespace fd
