#include "hid_report_decoder.h"

#include <cstdio>

namespace zeltest::hid {
namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

// Global item tags.
enum : uint8_t {
    kUsagePage = 0x0,
    kLogicalMin = 0x1,
    kLogicalMax = 0x2,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};
// Local item tags.
enum : uint8_t { kUsage = 0x0, kUsageMin = 0x1, kUsageMax = 0x2 };
// Main item tags.
enum : uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

struct Globals {
    uint16_t usagePage = 0;
    uint32_t logicalMinRaw = 0, logicalMaxRaw = 0;
    int32_t logicalMin = 0, logicalMax = 0;
    uint32_t reportSize = 0, reportCount = 0;
    uint8_t reportId = 0;
};

// A usage of one or two bytes takes its page from the Usage Page in effect
// at the main item; a four-byte usage carries its own page in the high half.
struct LocalUsage {
    uint32_t value;
    bool extended;
};

struct Locals {
    std::vector<LocalUsage> usages;
    bool hasMin = false, hasMax = false;
    LocalUsage usageMin{0, false}, usageMax{0, false};
};

Usage Resolve(const LocalUsage& u, uint16_t page) {
    if (u.extended)
        return Usage{uint16_t(u.value >> 16), uint16_t(u.value & 0xFFFF)};
    return Usage{page, uint16_t(u.value)};
}

int32_t SignExtend(uint32_t raw, int size) {
    switch (size) {
    case 1:
        return int8_t(raw);
    case 2:
        return int16_t(raw);
    case 4:
        return int32_t(raw);
    default:
        return 0;
    }
}

std::string At(size_t offset, const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "offset %zu: %s", offset, what);
    return text;
}

Report& ReportFor(Descriptor& d, uint8_t id) {
    for (Report& r : d.reports)
        if (r.id == id)
            return r;
    d.reports.push_back(Report{});
    d.reports.back().id = id;
    return d.reports.back();
}

} // namespace

const Report* Descriptor::FindReport(uint8_t id) const {
    for (const Report& r : reports)
        if (r.id == id)
            return &r;
    return nullptr;
}

Descriptor Decode(const uint8_t* bytes, size_t length) {
    Descriptor d;
    Globals globals;
    std::vector<Globals> stack;
    Locals locals;
    std::vector<int> open; // indices of the collections not yet ended

    size_t pos = 0;
    while (pos < length) {
        const size_t start = pos;
        const uint8_t prefix = bytes[pos++];
        if (prefix == 0xFE) { // long item: size, tag, data; none is defined
            if (pos + 2 > length) {
                d.error = At(start, "long item cut short");
                return d;
            }
            const size_t dataSize = bytes[pos];
            pos += 2 + dataSize;
            if (pos > length) {
                d.error = At(start, "long item data cut short");
                return d;
            }
            continue;
        }
        const int size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        const uint8_t type = (prefix >> 2) & 0x03;
        const uint8_t tag = prefix >> 4;
        if (pos + size > length) {
            d.error = At(start, "item data cut short");
            return d;
        }
        uint32_t raw = 0;
        for (int i = 0; i < size; ++i)
            raw |= uint32_t(bytes[pos + i]) << (8 * i);
        pos += size;

        if (type == kGlobal) {
            switch (tag) {
            case kUsagePage:
                globals.usagePage = uint16_t(raw);
                break;
            case kLogicalMin:
                globals.logicalMinRaw = raw;
                globals.logicalMin = SignExtend(raw, size);
                break;
            case kLogicalMax:
                globals.logicalMaxRaw = raw;
                globals.logicalMax = SignExtend(raw, size);
                break;
            case kReportSize:
                globals.reportSize = raw;
                break;
            case kReportId:
                if (raw == 0 || raw > 0xFF) {
                    d.error = At(start, "report id outside 1 to 255");
                    return d;
                }
                globals.reportId = uint8_t(raw);
                d.usesReportIds = true;
                break;
            case kReportCount:
                globals.reportCount = raw;
                break;
            case kPush:
                stack.push_back(globals);
                break;
            case kPop:
                if (stack.empty()) {
                    d.error = At(start, "Pop without Push");
                    return d;
                }
                globals = stack.back();
                stack.pop_back();
                break;
            default: // physical extent, unit, unit exponent: not laid out here
                break;
            }
        } else if (type == kLocal) {
            const LocalUsage u{raw, size == 4};
            switch (tag) {
            case kUsage:
                locals.usages.push_back(u);
                break;
            case kUsageMin:
                locals.usageMin = u;
                locals.hasMin = true;
                break;
            case kUsageMax:
                locals.usageMax = u;
                locals.hasMax = true;
                break;
            default: // designators, strings, delimiters
                break;
            }
        } else if (type == kMain) {
            switch (tag) {
            case kInput:
            case kOutput:
            case kFeature: {
                if (locals.hasMin != locals.hasMax) {
                    d.error = At(start, "usage minimum without maximum or the reverse");
                    return d;
                }
                Field f;
                f.kind = tag == kInput ? MainKind::Input
                                       : (tag == kOutput ? MainKind::Output : MainKind::Feature);
                f.size = globals.reportSize;
                f.count = globals.reportCount;
                f.usagePage = globals.usagePage;
                for (const LocalUsage& u : locals.usages)
                    f.usages.push_back(Resolve(u, globals.usagePage));
                f.hasRange = locals.hasMin;
                if (f.hasRange) {
                    f.usageMin = Resolve(locals.usageMin, globals.usagePage);
                    f.usageMax = Resolve(locals.usageMax, globals.usagePage);
                }
                f.logicalMin = globals.logicalMin;
                f.logicalMax = globals.logicalMax;
                f.logicalMinRaw = globals.logicalMinRaw;
                f.logicalMaxRaw = globals.logicalMaxRaw;
                f.flags = raw;
                f.constant = raw & 0x01;
                f.variable = raw & 0x02;
                f.relative = raw & 0x04;
                f.nullState = raw & 0x40;
                f.collection = open.empty() ? -1 : open.back();
                Report& r = ReportFor(d, globals.reportId);
                uint32_t& bits = tag == kInput    ? r.inputBits
                                 : tag == kOutput ? r.outputBits
                                                  : r.featureBits;
                f.bitOffset = bits;
                bits += f.size * f.count;
                (tag == kInput ? r.inputs : tag == kOutput ? r.outputs : r.features).push_back(f);
                break;
            }
            case kCollection: {
                Collection c;
                c.type = uint8_t(raw);
                if (!locals.usages.empty())
                    c.usage = Resolve(locals.usages.front(), globals.usagePage);
                c.parent = open.empty() ? -1 : open.back();
                d.collections.push_back(c);
                open.push_back(int(d.collections.size()) - 1);
                break;
            }
            case kEndCollection:
                if (open.empty()) {
                    d.error = At(start, "End Collection without a collection");
                    return d;
                }
                open.pop_back();
                break;
            default:
                d.error = At(start, "unknown main item");
                return d;
            }
            locals = Locals{};
        } else {
            d.error = At(start, "reserved item type");
            return d;
        }
    }
    if (!open.empty()) {
        d.error = At(length, "collection not ended");
        return d;
    }
    if (d.usesReportIds && d.FindReport(0)) {
        d.error = "fields outside every report id in a descriptor that uses them";
        return d;
    }
    d.ok = true;
    return d;
}

} // namespace zeltest::hid
