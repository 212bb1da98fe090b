#include "presentation/device_list_export.h"

#include <vector>

#include "config/language.h"
#include "presentation/csv_text.h"
#include "wire/utf8.h"

namespace fd {

namespace {
bool HasText(ColumnContent c) {
    return c != ColumnContent::Tick && c != ColumnContent::Operate;
}
}  // namespace

DeviceListExport ExportDeviceRows(std::span<const DeviceColumn> columns,
                                  const std::vector<DeviceRow>& rows) {
    DeviceListExport out;
    std::vector<std::string> fields;
    for (const DeviceColumn& c : columns) {
        if (HasText(c.content)) fields.push_back(SpreadsheetSafe(GetLangText(c.header)));
    }
    out.csv = CsvLine(fields);
    for (const DeviceRow& row : rows) {
        fields.clear();
        for (std::size_t c = 0; c < columns.size() && c < row.cells.size(); ++c) {
            if (HasText(columns[c].content))
                fields.push_back(SpreadsheetSafe(RepairUtf8(row.cells[c])));
        }
        out.csv += CsvLine(fields);
        ++out.rows;
    }
    return out;
}

DeviceListExport ExportDeviceList(IDeviceStore& store, std::span<const DeviceColumn> columns,
                                  int sortColumn, bool ascending, const std::string& filter) {
    const DeviceRows list =
        ListEveryDevice(store, columns, StoreSortIndex(columns, sortColumn), ascending, filter);
    return ExportDeviceRows(columns, list.rows);
}

}  // namespace fd
