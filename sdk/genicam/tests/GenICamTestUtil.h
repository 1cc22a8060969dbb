// Helpers of the GenICam tests: descriptions written inline, a parameter
// array over memory, and register access in either byte order.
#ifndef TN_GENICAM_TEST_UTIL_H
#define TN_GENICAM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TnByteOrder.h"
#include "TnGenICamInternal.h"
#include "TnGenParameterArray.h"

namespace tn
{
namespace genicam
{
namespace test
{

/// A complete description around some node elements, with a Device port.
inline std::string Description(const std::string &aNodes, bool aWithPort = true)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<RegisterDescription ModelName=\"Test\" VendorName=\"Tarn\" SchemaMajorVersion=\"1\" "
           "SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" "
           "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n" +
           aNodes + (aWithPort ? "<Port Name=\"Device\"/>\n" : "") + "</RegisterDescription>\n";
}

/// An IntReg on the Device port.
inline std::string IntReg(const std::string &aName, uint64_t aAddress, int aLength = 4,
                          const std::string &aExtra = "<AccessMode>RW</AccessMode>")
{
    return "<IntReg Name=\"" + aName + "\"><Address>" + std::to_string(aAddress) + "</Address><Length>" +
           std::to_string(aLength) + "</Length>" + aExtra + "<pPort>Device</pPort></IntReg>\n";
}

/// A parameter array over a MemoryPort.
struct Device
{
    explicit Device(const std::string &aNodes, size_t aMemory = 0x1000, bool aWithPort = true)
        : mPort(std::make_shared<MemoryPort>(aMemory))
    {
        TnResult lResult;
        mArray.reset(CreateParameterArray(Description(aNodes, aWithPort), mPort, lResult));
        EXPECT_TRUE(lResult.IsOK()) << lResult.GetDescription().GetAscii();
    }

    TnGenParameterArray &operator*() { return *mArray; }
    TnGenParameterArray *operator->() { return mArray.get(); }
    explicit operator bool() const { return mArray != nullptr; }

    void PokeBig(uint64_t aAddress, uint64_t aValue, int aLength = 4) { Poke(aAddress, aValue, aLength, true); }

    void PokeLittle(uint64_t aAddress, uint64_t aValue, int aLength = 4) { Poke(aAddress, aValue, aLength, false); }

    uint64_t PeekBig(uint64_t aAddress, int aLength = 4) { return Peek(aAddress, aLength, true); }

    uint64_t PeekLittle(uint64_t aAddress, int aLength = 4) { return Peek(aAddress, aLength, false); }

    void Poke(uint64_t aAddress, uint64_t aValue, int aLength, bool aBigEndian)
    {
        uint8_t lBytes[8];
        tn::WriteUnsigned(aValue, lBytes, aLength, aBigEndian);
        mPort->Poke(aAddress, lBytes, aLength);
    }

    uint64_t Peek(uint64_t aAddress, int aLength, bool aBigEndian)
    {
        uint8_t lBytes[8] = {0};
        mPort->Peek(aAddress, lBytes, aLength);
        return tn::ReadUnsigned(lBytes, aLength, aBigEndian);
    }

    int64_t Int(const char *aName)
    {
        int64_t lValue = 0;
        const TnResult lResult = mArray->GetIntegerValue(aName, lValue);
        EXPECT_TRUE(lResult.IsOK()) << aName << ": " << lResult.GetDescription().GetAscii();
        return lValue;
    }

    double Float(const char *aName)
    {
        double lValue = 0;
        const TnResult lResult = mArray->GetFloatValue(aName, lValue);
        EXPECT_TRUE(lResult.IsOK()) << aName << ": " << lResult.GetDescription().GetAscii();
        return lValue;
    }

    std::shared_ptr<MemoryPort> mPort;
    std::unique_ptr<TnGenParameterArray> mArray;
};

/// The result's code, with its description when the code differs.
#define EXPECT_CODE(aCode, aResult) \
    do \
    { \
        const TnResult lExpectCodeResult = (aResult); \
        EXPECT_EQ(static_cast<uint32_t>(aCode), lExpectCodeResult.GetCode()) \
            << lExpectCodeResult.GetDescription().GetAscii(); \
    } while (0)

} // namespace test
} // namespace genicam
} // namespace tn

#endif
