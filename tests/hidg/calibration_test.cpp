// Loading the calibration store from the registry, and the registry model's
// answers that the store relies on.
#include "device_fixture.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace zeltest {
namespace {

const std::u16string kKey = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\"
                            u"MediaProperties\\PrivateProperties\\Joystick\\Calibrado";
const char16_t* const kNames[4] = {u"Eje1", u"Eje2", u"Eje3", u"Eje4"};
const ULONG kPreg = km::Tag("Preg");

std::vector<uint8_t> Bytes(ULONG minimum, ULONG centre, ULONG maximum, UCHAR deadZone, UCHAR band,
                           size_t size = 16) {
    CalibrationValue v{minimum, centre, maximum, deadZone, band, 0xEEEE};
    std::vector<uint8_t> out(size, 0x77);
    memcpy(out.data(), &v, size < 16 ? size : 16);
    return out;
}
// The worked record: minimum 100, centre 600, maximum 1200, dead zone 10, band 4.
std::vector<uint8_t> Worked(size_t size = 16) {
    return Bytes(100, 600, 1200, 10, 4, size);
}

class CalibrationStoreTest : public DeviceFixture {
  protected:
    void SetValue(int field, const std::vector<uint8_t>& data, ULONG type = REG_BINARY) {
        km::SetRegistryValue(kKey, kNames[field], type, data);
    }
    // Leftovers of an earlier load and of raw mode, which a load must replace.
    void Dirty() {
        for (int i = 0; i < 4; ++i) {
            ext->AxisCalibration[i] = {1, 1, 2, 3, 4};
            ext->AxisFilter[i] = {1, 777, 5, 9};
        }
        const UCHAR order[4] = {3, 2, 1, 0}, saved[4] = {1, 0, 3, 2};
        memcpy(ext->AxisOrder, order, 4);
        memcpy(ext->SavedAxisOrder, saved, 4);
        ext->CalibrationReloadPending = 1;
        ext->DialSource = 6;
    }
    void ExpectOff(int i) {
        const CalibrationRecord& c = ext->AxisCalibration[i];
        const FilterRecord& f = ext->AxisFilter[i];
        EXPECT_EQ(c.Enabled | c.Minimum | c.Centre | c.Maximum | c.DeadZone, 0u) << "field " << i;
        EXPECT_EQ(f.Enabled | f.Held | f.StableCount | f.Band, 0u) << "field " << i;
    }
    void ExpectWorked(int i) {
        const CalibrationRecord& c = ext->AxisCalibration[i];
        const FilterRecord& f = ext->AxisFilter[i];
        EXPECT_EQ(c.Enabled, 1) << "field " << i;
        EXPECT_EQ(c.Minimum, 100u);
        EXPECT_EQ(c.Centre, 600u);
        EXPECT_EQ(c.Maximum, 1200u);
        EXPECT_EQ(c.DeadZone, 10);
        EXPECT_EQ(f.Enabled, 1) << "field " << i;
        EXPECT_EQ(f.Band, 4);
        EXPECT_EQ(f.Held, 0u);
        EXPECT_EQ(f.StableCount, 0);
    }
    void ExpectLoadEnded() {
        EXPECT_EQ(0, memcmp(ext->AxisOrder, ext->SavedAxisOrder, 4));
        EXPECT_EQ(ext->SavedAxisOrder[0], 1); // the saved order itself stays
        EXPECT_EQ(ext->CalibrationReloadPending, 0);
        EXPECT_EQ(ext->DialSource, 6);
    }
    std::array<LONG, 4> Transform(std::array<ULONG, 4> raw) {
        UCHAR report[kReportBytes] = {};
        memcpy(report, raw.data(), 16);
        TransformReport(device, report);
        std::array<LONG, 4> out;
        memcpy(out.data(), report, 16);
        return out;
    }
};

TEST_F(CalibrationStoreTest, WithoutTheKeyEveryFieldIsOffAndTheSavedOrderReturns) {
    km::CreateRegistryKey(u"\\Registry\\Machine\\System\\CurrentControlSet\\Control");
    Dirty();
    LoadCalibration(device);
    for (int i = 0; i < 4; ++i)
        ExpectOff(i);
    ExpectLoadEnded();
    EXPECT_EQ(km::PoolAllocations(kPreg), 0u);
    // The saved order is 1, 0, 3, 2; the raw microseconds pass unfiltered.
    EXPECT_EQ(Transform({503, 504, 505, 506}), (std::array<LONG, 4>{504, 503, 506, 505}));
}

TEST_F(CalibrationStoreTest, OnlyTheSecondValueCalibratesOnlyTheSecondField) {
    SetValue(1, Worked());
    Dirty();
    LoadCalibration(device);
    ExpectOff(0);
    ExpectWorked(1);
    ExpectOff(2);
    ExpectOff(3);
    ExpectLoadEnded();
    // One query buffer per value name, all freed (the fixture checks the pool).
    EXPECT_EQ(km::PoolAllocations(kPreg), 4u);
    EXPECT_EQ(km::RegistryQueries(), 4u);
    const UCHAR identity[4] = {0, 1, 2, 3};
    memcpy(ext->AxisOrder, identity, 4);
    EXPECT_EQ(Transform({700, 700, 700, 700}), (std::array<LONG, 4>{700, 74, 700, 700}));
}

TEST_F(CalibrationStoreTest, EachValueCalibratesItsOwnField) {
    for (int i = 0; i < 4; ++i)
        SetValue(i, Bytes(100 + i, 600, 1200, 10, UCHAR(4 + i)));
    LoadCalibration(device);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ext->AxisCalibration[i].Minimum, ULONG(100 + i));
        EXPECT_EQ(ext->AxisFilter[i].Band, 4 + i);
    }
}

// What the data of "Eje1" holds, and whether it is used.
TEST_F(CalibrationStoreTest, OnlyCompleteOrderedValuesThatFitTheQueryAreUsed) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        ULONG type;
        bool used;
    };
    const Case cases[] = {
        {"the 16-byte record", Worked(), REG_BINARY, true},
        {"of another type", Worked(), REG_DWORD, true},
        {"without the unused bytes", Worked(14), REG_BINARY, true},
        {"longer, still within the query buffer", Worked(22), REG_BINARY, true},
        {"without the band", Worked(13), REG_BINARY, false},
        {"a single word", Worked(4), REG_BINARY, false},
        {"empty", {}, REG_BINARY, false},
        {"too long for the query buffer", Worked(23), REG_BINARY, false},
        {"far too long", Worked(64), REG_BINARY, false},
        {"minimum inside the dead zone", Bytes(595, 600, 1200, 10, 4), REG_BINARY, false},
        {"maximum inside the dead zone", Bytes(100, 600, 605, 10, 4), REG_BINARY, false},
        {"dead zone below 0", Bytes(0, 5, 1200, 10, 4), REG_BINARY, false},
        {"dead zone beyond 32 bits", Bytes(0, 0xFFFFFFFA, 0xFFFFFFFF, 10, 4), REG_BINARY, false},
        {"minimum above maximum", Bytes(1200, 600, 100, 0, 4), REG_BINARY, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        km::ClearRegistry();
        const uint64_t allocationsBefore = km::PoolAllocations(kPreg);
        SetValue(0, c.data, c.type);
        Dirty();
        LoadCalibration(device);
        if (c.used)
            ExpectWorked(0);
        else
            ExpectOff(0);
        ExpectLoadEnded();
        EXPECT_TRUE(km::PoolOutstanding().empty());
        EXPECT_EQ(km::OpenKeyHandles(), 0u);
        EXPECT_EQ(km::PoolAllocations(kPreg) - allocationsBefore, 4u);
    }
}

TEST_F(CalibrationStoreTest, DeadZoneTouchingBothEndsIsUsed) {
    SetValue(2, Bytes(590, 600, 610, 10, 0));
    LoadCalibration(device);
    EXPECT_EQ(ext->AxisCalibration[2].Enabled, 1);
    // Both half ranges are 0: every position reads centred.
    EXPECT_EQ(Transform({0, 0, 1, 0xFFFFFFFF})[2], 0);
}

TEST_F(CalibrationStoreTest, RefusedRecordPassesRawPositions) {
    SetValue(0, Bytes(595, 600, 1200, 10, 4));
    LoadCalibration(device);
    EXPECT_EQ(Transform({300, 0, 0, 0})[0], 300);
}

TEST_F(CalibrationStoreTest, FirstValueWithinTheBandReadsCentredUntilTheLineSettles) {
    SetValue(0, Worked());
    ext->AxisFilter[0] = {0, 777, 5, 9}; // what an earlier load and the poll left
    LoadCalibration(device);
    EXPECT_EQ(Transform({3, 0, 0, 0})[0], 0); // held at 0, which reads centred
    EXPECT_EQ(Transform({4, 0, 0, 0})[0], 0);
    ext->AxisFilter[0].StableCount = 3; // as the poll counts an unchanged line
    EXPECT_EQ(Transform({3, 0, 0, 0})[0], -490);
    EXPECT_EQ(ext->AxisFilter[0].Held, 3u);
}

TEST_F(CalibrationStoreTest, FirstValueAboveTheBandIsAccepted) {
    SetValue(0, Worked());
    LoadCalibration(device);
    EXPECT_EQ(Transform({5, 0, 0, 0})[0], -490);
    EXPECT_EQ(ext->AxisFilter[0].Held, 5u);
}

TEST_F(CalibrationStoreTest, AbovePassiveLevelNothingChangesAndTheReloadStaysPending) {
    for (int i = 0; i < 4; ++i)
        SetValue(i, Worked());
    Dirty();
    std::vector<uint8_t> before(sizeof *ext);
    memcpy(before.data(), ext, sizeof *ext);
    km::AtIrql(DISPATCH_LEVEL, [&] { LoadCalibration(device); });
    EXPECT_EQ(0, memcmp(before.data(), ext, sizeof *ext));
    EXPECT_EQ(km::RegistryQueries(), 0u);
    EXPECT_EQ(km::PoolAllocations(kPreg), 0u);

    LoadCalibration(device); // the next read at PASSIVE_LEVEL
    for (int i = 0; i < 4; ++i)
        ExpectWorked(i);
    ExpectLoadEnded();
}

TEST_F(CalibrationStoreTest, ReloadAfterRawModeRestoresOrderAndCalibration) {
    SetValue(0, Worked());
    SetValue(2, Worked());
    LoadCalibration(device);
    // The bridge installs an order, then switches to raw mode as the read path does.
    const UCHAR active[4] = {2, 0, 3, 1};
    memcpy(ext->AxisOrder, active, 4);
    for (int i = 0; i < 4; ++i) {
        ext->SavedAxisOrder[i] = ext->AxisOrder[i];
        ext->AxisOrder[i] = UCHAR(i);
        ext->AxisCalibration[i].Enabled = 0;
        ext->AxisFilter[i].Enabled = 0;
    }
    EXPECT_EQ(Transform({700, 800, 900, 1000}), (std::array<LONG, 4>{700, 800, 900, 1000}));

    km::DeleteRegistryValue(kKey, u"Eje1"); // gone since the last load
    ext->CalibrationReloadPending = 1;
    LoadCalibration(device);
    EXPECT_EQ(0, memcmp(ext->AxisOrder, active, 4));
    EXPECT_EQ(ext->CalibrationReloadPending, 0);
    ExpectOff(0);
    ExpectWorked(2);
    EXPECT_EQ(Transform({700, 800, 700, 1000}), (std::array<LONG, 4>{74, 700, 1000, 800}));
}

TEST_F(CalibrationStoreTest, QueryBufferThatCannotBeAllocatedLeavesOnlyItsFieldOff) {
    for (int i = 0; i < 4; ++i)
        SetValue(i, Worked());
    int allocations = 0;
    km::SetPoolFailure([&](ULONG tag, size_t) { return tag == kPreg && ++allocations == 3; });
    LoadCalibration(device);
    km::SetPoolFailure(nullptr);
    ExpectWorked(0);
    ExpectWorked(1);
    ExpectOff(2);
    ExpectWorked(3);
    EXPECT_EQ(km::RegistryQueries(), 3u);
}

TEST_F(CalibrationStoreTest, KeyNameIsMatchedWithoutRegardToCase) {
    km::SetRegistryValue(u"\\REGISTRY\\machine\\SYSTEM\\currentcontrolset\\control\\"
                         u"mediaproperties\\privateproperties\\joystick\\CALIBRADO",
                         u"eje4", REG_BINARY, Worked());
    LoadCalibration(device);
    ExpectWorked(3);
}

// ---- The registry model's answers ------------------------------------------------------

class RegistryModelTest : public KernelTest {
  protected:
    HANDLE Open(const std::u16string& path) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, path.c_str());
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   NULL, NULL);
        HANDLE key = NULL;
        status = ZwOpenKey(&key, KEY_READ, &attributes);
        return key;
    }
    NTSTATUS Query(HANDLE key, const char16_t* value, void* buffer, ULONG size) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, value);
        resultLength = 0xFFFF;
        return ZwQueryValueKey(key, &name, KeyValueFullInformation, buffer, size, &resultLength);
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG resultLength = 0;
};

TEST_F(RegistryModelTest, ShortBuffersGetThePlatformsAnswers) {
    km::SetRegistryValue(kKey, u"Eje1", REG_BINARY, Worked());
    HANDLE key = Open(kKey);
    ASSERT_EQ(status, STATUS_SUCCESS);
    // Fixed part 20 bytes, name 8, data at 28 (a ULONG boundary), 16 bytes of data.
    const ULONG total = 44;
    alignas(8) uint8_t buffer[64];

    memset(buffer, 0xCD, sizeof buffer);
    EXPECT_EQ(Query(key, u"Eje1", buffer, 19), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(resultLength, total);
    EXPECT_EQ(buffer[0], 0xCD); // nothing written

    memset(buffer, 0xCD, sizeof buffer);
    EXPECT_EQ(Query(key, u"Eje1", buffer, total - 1), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(resultLength, total);
    auto* info = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(buffer);
    EXPECT_EQ(info->DataLength, 16u);
    EXPECT_EQ(info->NameLength, 8u);
    EXPECT_EQ(buffer[28], 0xCD); // no data

    memset(buffer, 0xCD, sizeof buffer);
    EXPECT_EQ(Query(key, u"EJE1", buffer, total), STATUS_SUCCESS);
    EXPECT_EQ(resultLength, total);
    EXPECT_EQ(info->Type, ULONG(REG_BINARY));
    EXPECT_EQ(info->DataOffset, 28u);
    EXPECT_EQ(0, memcmp(info->Name, u"Eje1", 8)); // the name as it was created
    EXPECT_EQ(0, memcmp(buffer + 28, Worked().data(), 16));
    EXPECT_EQ(buffer[total], 0xCD);

    EXPECT_EQ(Query(key, u"Eje2", buffer, sizeof buffer), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(km::OpenKeyHandles(), 0u);
}

TEST_F(RegistryModelTest, MissingKeysAndDeletedKeys) {
    km::CreateRegistryKey(kKey);
    Open(kKey + u"\\Otra");
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
    HANDLE parent = Open(u"\\Registry\\Machine\\System");
    EXPECT_EQ(status, STATUS_SUCCESS); // keys above a created key exist
    HANDLE key = Open(kKey);
    ASSERT_EQ(status, STATUS_SUCCESS);
    km::DeleteRegistryKey(u"\\Registry\\Machine\\System\\CurrentControlSet");
    uint8_t buffer[64];
    EXPECT_EQ(Query(key, u"Eje1", buffer, sizeof buffer), NTSTATUS(0xC000017C)); // key deleted
    Open(kKey);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(km::OpenKeyHandles(), 2u);
    ZwClose(key);
    ZwClose(parent);
}

TEST_F(RegistryModelTest, BrokenRulesAreFaults) {
    km::CreateRegistryKey(kKey);
    HANDLE key = Open(kKey);
    ASSERT_EQ(status, STATUS_SUCCESS);
    uint8_t buffer[64];
    km::AtIrql(DISPATCH_LEVEL, [&] { Query(key, u"Eje1", buffer, sizeof buffer); });
    EXPECT_EQ(km::TakeFaults().size(), 1u);
    ZwClose(key);
    ZwClose(key);
    EXPECT_EQ(km::TakeFaults().size(), 1u); // closed twice
    EXPECT_EQ(km::OpenKeyHandles(), 0u);
}

TEST_F(RegistryModelTest, ResetForgetsKeysAndHandles) {
    km::CreateRegistryKey(kKey);
    Open(kKey);
    EXPECT_EQ(km::OpenKeyHandles(), 1u);
    km::Reset();
    EXPECT_EQ(km::OpenKeyHandles(), 0u);
    Open(kKey);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
}

} // namespace
} // namespace zeltest
