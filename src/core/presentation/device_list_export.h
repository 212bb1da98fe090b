#pragma once
// The device list written out for a spreadsheet: every page of the filtered list in the
// list's sort order, the columns that show text (no tick box, no web button), translated
// headers first.

#include <span>
#include <string>
#include <vector>

#include "presentation/csv_text.h"  // SpreadsheetSafe
#include "presentation/device_list.h"

namespace fd {

struct DeviceListExport {
    std::string csv;
    int rows = 0;  // device lines written (stored and discovered-only)
};

// The rows under the translated headers of the columns that show text; every cell made
// valid UTF-8 and SpreadsheetSafe.
DeviceListExport ExportDeviceRows(std::span<const DeviceColumn> columns,
                                  const std::vector<DeviceRow>& rows);

// Reads the whole list afresh (ListEveryDevice) from the store, sorted by the grid column
// sortColumn.
DeviceListExport ExportDeviceList(IDeviceStore& store, std::span<const DeviceColumn> columns,
                                  int sortColumn, bool ascending, const std::string& filter);

}  // namespace fd
