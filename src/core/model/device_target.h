#pragma once
// One chosen device handed from a list page to a dialog: where it is, which it is, and its
// model. Not a wire record: it never leaves the program.

#include <cstddef>
#include <cstdint>

struct DeviceTarget {
    char ip[16];
    char mac[20];
    int32_t ap_type;
};
static_assert(sizeof(DeviceTarget) == 40 && offsetof(DeviceTarget, ap_type) == 36);
