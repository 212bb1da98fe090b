// Every decoder of device datagrams over arbitrary bytes: nothing may read past the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "wire/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The raw bytes straight into the body decoders, as a worker would hand them on.
    std::span<const uint8_t> raw(data, size);
    uint32_t sink = 0;
    sink += fd::DecodeBriefInfo(raw).up_time;
    sink += fd::DecodeKeepalive(raw).up_time;
    auto scan = fd::DecodeScanResult(raw);
    for (const auto& e : scan.entries) sink += e.ssid_len;

    auto d = fd::DecodeDatagram(raw);
    if (!d) return 0;
    ap_info_stu rec = fd::DecodeDeviceInfo(d->header, d->body);
    sink += fd::FieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len).size();
    sink += fd::FieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len).size();
    auto brief = fd::DecodeBriefInfo(d->body);
    sink += fd::FieldText(brief.version, sizeof brief.version, brief.version_len).size();
    auto again = fd::EncodeDatagram(d->header.command, d->body, d->header.mac,
                                    d->header.multicast, d->header.ap_type);
    if (again.size() != fd::kHeaderSize + d->body.size()) __builtin_trap();
    // Keep the decoded values alive so the reads are not optimised away.
    __asm__ volatile("" : : "r"(sink));
    return 0;
}
