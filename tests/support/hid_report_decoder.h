// Decoder of HID report descriptors for tests, written from the HID item
// format: it reads short items (and skips long ones), keeps the global state
// with Push and Pop and the local state until each main item, and lays out the
// fields of every report. A report without a Report ID item has id 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zeltest::hid {

struct Usage {
    uint16_t page = 0;
    uint16_t id = 0;
    bool operator==(const Usage& o) const { return page == o.page && id == o.id; }
};

enum class MainKind { Input, Output, Feature };

struct Field {
    MainKind kind = MainKind::Input;
    uint32_t bitOffset = 0; // within the report, after the report id byte if there is one
    uint32_t size = 0;      // bits per element
    uint32_t count = 0;
    uint16_t usagePage = 0; // the page in effect at the main item
    std::vector<Usage> usages;
    bool hasRange = false;
    Usage usageMin, usageMax;
    // Logical extent: sign-extended from the item's data, and the raw data.
    int32_t logicalMin = 0, logicalMax = 0;
    uint32_t logicalMinRaw = 0, logicalMaxRaw = 0;
    uint32_t flags = 0; // the main item's data
    bool constant = false, variable = false, relative = false, nullState = false;
    int collection = -1; // innermost open collection, index into Descriptor::collections
};

struct Report {
    uint8_t id = 0;
    std::vector<Field> inputs, outputs, features;
    uint32_t inputBits = 0, outputBits = 0, featureBits = 0;
};

struct Collection {
    uint8_t type = 0; // 0 physical, 1 application, 2 logical, ...
    Usage usage;      // the first usage before the item, if any
    int parent = -1;
};

struct Descriptor {
    bool ok = false;
    std::string error; // the first problem, with its byte offset
    std::vector<Report> reports;
    std::vector<Collection> collections;
    bool usesReportIds = false;

    const Report* FindReport(uint8_t id) const;
};

Descriptor Decode(const uint8_t* bytes, size_t length);
inline Descriptor Decode(const std::vector<uint8_t>& bytes) {
    return Decode(bytes.data(), bytes.size());
}

} // namespace zeltest::hid
