// The plan reader over arbitrary file contents: no crash, no read past a buffer, every
// problem names a line inside the file, every row has a well-formed MAC and no blank cell,
// and a plan written back out reads back to the same rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "presentation/plan_file.h"

namespace {

bool SameRows(const fd::PlanFile& a, const fd::PlanFile& b) {
    if (a.rows.size() != b.rows.size()) return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        const auto& x = a.rows[i];
        const auto& y = b.rows[i];
        if (x.mac != y.mac || x.cells.size() != y.cells.size()) return false;
        for (const auto& cell : x.cells) {
            const fd::PlanCell* other = y.Find(cell.column);
            if (!other || other->value != cell.value) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const fd::PlanFile plan = fd::ReadPlan(text);
    const int lines = 2 + static_cast<int>(std::count(text.begin(), text.end(), '\n')) +
                      static_cast<int>(std::count(text.begin(), text.end(), '\r'));
    for (const auto& p : plan.problems)
        if (p.line < 1 || p.line > lines) __builtin_trap();
    for (const auto& row : plan.rows) {
        if (row.mac.size() != 17 || row.line < 1 || row.line > lines) __builtin_trap();
        for (const auto& cell : row.cells)
            if (cell.value.empty() || cell.value.size() > fd::kPlanMaxCell) __builtin_trap();
    }
    if (!plan.refused.empty() && !plan.rows.empty()) __builtin_trap();

    // What was read goes out and comes back unchanged, as CSV and as JSON.
    if (!plan.rows.empty()) {
        const fd::PlanFile csv = fd::ReadPlan(fd::WritePlanCsv(plan.rows, true));
        if (!csv.refused.empty() || !csv.problems.empty() || !SameRows(plan, csv)) __builtin_trap();
        const fd::PlanFile json = fd::ReadPlan(fd::WritePlanJson(plan.rows, true));
        if (!json.refused.empty() || !json.problems.empty() || !SameRows(plan, json))
            __builtin_trap();
    }
    return 0;
}
