// Syskit.CpuInfo and Syskit.CPUID: the processor identification objects for script hosts.
//
// Outputs the components take by reference (LevelGet's registers, BenchStop's seconds and ticks,
// CpuID's registers, CpuClk's reading) are written back into the caller's variables; currency
// values travel as VT_CY, so a script sees the same numbers a native caller does.
#include "library/com/classes.hpp"
#include "library/com/dispatch.hpp"
#include "syskit/cpu.hpp"

namespace syskit::com {
namespace {

class CpuInfoObject final : public DispatchObject {
  public:
    CpuInfoObject();
    cCpuInfo info;
};

class CpuidObject final : public DispatchObject {
  public:
    CpuidObject();
    cCPUID runner;
};

cCpuInfo& info(DispatchObject& self) {
    return static_cast<CpuInfoObject&>(self).info;
}
const cCPUID& runner(DispatchObject& self) {
    return static_cast<CpuidObject&>(self).runner;
}

// The optional `Standard` argument of the signature and brand operations.
bool standard(const Call& c) {
    return c.boolean_or(0, true);
}

// The register numbers LevelGet and LevelSet know; other numbers leave the outputs alone.
bool stored_leaf(std::int32_t nReg) {
    return nReg >= 0 && nReg <= 12;
}

using C = Call;
using D = DispatchObject;

const Member kCpuInfoMembers[] = {
    {L"ApicID", [](D& o, C& c) { c.set_result(i4_value(info(o).ApicID())); }, nullptr, 0, 0},
    {L"BenchStart", [](D& o, C&) { info(o).BenchStart(); }, nullptr, 0, 0},
    {L"BenchStop",
     [](D& o, C& c) {
         double seconds = 0;
         Currency cycles;
         try {
             info(o).BenchStop(seconds, cycles);
         } catch (const OverflowError&) {
             c.set_out(0, r8_value(seconds));  // the seconds were stored before the overflow
             throw;
         }
         c.set_out(0, r8_value(seconds));
         c.set_out(1, cy_value(cycles));
     },
     nullptr, 2, 2},
    {L"CacheDescriptors",
     [](D& o, C& c) { c.set_result(byte_array(info(o).CacheDescriptors(), 1)); }, nullptr, 0, 0},
    {L"CpuBrand", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuBrand(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuBrandStr", [](D& o, C& c) { c.set_result(text_value(info(o).CpuBrandStr(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuLogicalCount",
     [](D& o, C& c) {
         const auto count = info(o).CpuLogicalCount();
         c.set_result(count ? i4_value(*count) : empty_value());
     },
     nullptr, 0, 0},
    {L"CpuFamily", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuFamily(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuFamilyEx", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuFamilyEx(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuFamilyStr",
     [](D& o, C& c) { c.set_result(text_value(info(o).CpuFamilyStr(standard(c)))); }, nullptr, 0,
     1},
    {L"CpuModel", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuModel(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuModelEx", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuModelEx(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuModelStr", [](D& o, C& c) { c.set_result(text_value(info(o).CpuModelStr(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuStepping", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuStepping(standard(c)))); },
     nullptr, 0, 1},
    {L"CpuType", [](D& o, C& c) { c.set_result(i4_value(info(o).CpuType())); }, nullptr, 0, 0},
    {L"CpuTypeStr", [](D& o, C& c) { c.set_result(text_value(info(o).CpuTypeStr())); }, nullptr, 0,
     0},
    {L"Extended", [](D& o, C& c) { c.set_result(bool_value(info(o).Extended())); }, nullptr, 0, 0},
    {L"Feature", [](D& o, C& c) { c.set_result(bool_value(info(o).Feature(c.i4(0)))); }, nullptr, 1,
     1},
    {L"HexPad",
     [](D&, C& c) { c.set_result(text_value(cCpuInfo::HexPad(c.i4(0), c.i4_or(1, 8)))); }, nullptr,
     1, 2},
    {L"LevelsExt", [](D& o, C& c) { c.set_result(i4_value(info(o).LevelsExt())); }, nullptr, 0, 0},
    {L"LevelsStd", [](D& o, C& c) { c.set_result(i4_value(info(o).LevelsStd())); }, nullptr, 0, 0},
    {L"NameStr", [](D& o, C& c) { c.set_result(text_value(info(o).NameStr())); }, nullptr, 0, 0},
    {L"LevelGet",
     [](D& o, C& c) {
         const std::int32_t nReg = c.i4(0);
         std::int32_t r[4] = {};
         info(o).LevelGet(nReg, r[0], r[1], r[2], r[3]);
         if (!stored_leaf(nReg)) return;
         for (std::size_t k = 0; k < 4; ++k) c.set_out(k + 1, i4_value(r[k]));
     },
     nullptr, 5, 5},
    {L"LevelSet", [](D& o, C& c) { info(o).LevelSet(c.i4(0), c.i4(1), c.i4(2), c.i4(3), c.i4(4)); },
     nullptr, 5, 5},
    {L"ManufacturerStr", [](D& o, C& c) { c.set_result(text_value(info(o).ManufacturerStr())); },
     nullptr, 0, 0},
    {L"Refresh", [](D& o, C& c) { info(o).Refresh(c.boolean(0)); }, nullptr, 1, 1},
    {L"SnStatus", [](D& o, C& c) { c.set_result(i4_value(info(o).SnStatus())); }, nullptr, 0, 0},
    {L"SnStr", [](D& o, C& c) { c.set_result(text_value(info(o).SnStr())); }, nullptr, 0, 0},
    {L"Supported", [](D& o, C& c) { c.set_result(bool_value(info(o).Supported())); }, nullptr, 0,
     0},
    {L"Vendor", [](D& o, C& c) { c.set_result(i4_value(info(o).Vendor())); }, nullptr, 0, 0},
    {L"VendorIdStr", [](D& o, C& c) { c.set_result(text_value(info(o).VendorIdStr(standard(c)))); },
     nullptr, 0, 1},
    {L"xAddrBitsPhysical", [](D& o, C& c) { c.set_result(i4_value(info(o).xAddrBitsPhysical())); },
     nullptr, 0, 0},
    {L"xAddrBitsVirtual", [](D& o, C& c) { c.set_result(i4_value(info(o).xAddrBitsVirtual())); },
     nullptr, 0, 0},
    {L"xCache", [](D& o, C& c) { c.set_result(i4_value(info(o).xCache(c.i4(0)))); }, nullptr, 1, 1},
    {L"xCacheAssocStr",
     [](D& o, C& c) { c.set_result(text_value(info(o).xCacheAssocStr(c.i4(0)))); }, nullptr, 1, 1},
    {L"xPowerManagement",
     [](D& o, C& c) { c.set_result(bool_value(info(o).xPowerManagement(c.i4(0)))); }, nullptr, 1,
     1},
    // Members beyond the component's own come last, so earlier DISPIDs keep their members.
    {L"FeatureName", [](D&, C& c) { c.set_result(text_value(cpu_feature_name(c.i4(0)))); },
     nullptr, 1, 1},
    {L"PowerManagementName",
     [](D&, C& c) { c.set_result(text_value(cpu_power_management_name(c.i4(0)))); }, nullptr, 1,
     1},
};

const Member kCpuidMembers[] = {
    {L"CpuClk",
     [](D& o, C& c) {
         Currency cycles;
         runner(o).CpuClk(cycles);
         c.set_out(0, cy_value(cycles));
     },
     nullptr, 1, 1},
    {L"CpuID",
     [](D& o, C& c) {
         std::int32_t r[4] = {};
         runner(o).CpuID(c.i4(0), r[0], r[1], r[2], r[3]);
         for (std::size_t k = 0; k < 4; ++k) c.set_out(k + 1, i4_value(r[k]));
     },
     nullptr, 5, 5},
    {L"ShiftRight",
     [](D& o, C& c) { c.set_result(i4_value(runner(o).ShiftRight(c.i4(0), c.i4(1)))); }, nullptr, 2,
     2},
    {L"PlacedCount", [](D& o, C& c) { c.set_result(i4_value(runner(o).PlacedCount())); }, nullptr,
     0, 0},
};

// The dispinterface of the type library that describes these members.
const IID kCpuInfoInterface = {
    0x0addf243, 0xd25f, 0x47e2, {0x84, 0xd6, 0x16, 0x70, 0xa4, 0x1f, 0x5e, 0x19}};

CpuInfoObject::CpuInfoObject() : DispatchObject(kCpuInfoMembers, kCpuInfoInterface) {}
// The dispinterface of the type library that describes these members.
const IID kCpuidInterface = {
    0x5427c7c3, 0xccda, 0x45b1, {0xb6, 0x69, 0xa2, 0xba, 0xfc, 0xb8, 0xae, 0xc5}};

CpuidObject::CpuidObject() : DispatchObject(kCpuidMembers, kCpuidInterface) {}

}  // namespace

IDispatch* create_cpu_info() {
    return new CpuInfoObject();
}
IDispatch* create_cpuid() {
    return new CpuidObject();
}

}  // namespace syskit::com
