// Helpers of the GenICam tests: descriptions written inline, a parameter
// array over memory, and register access in either byte order.
#ifndef TN_GENICAM_TEST_UTIL_H
#define TN_GENICAM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
        TnResult result;
        mArray.reset(CreateParameterArray(Description(aNodes, aWithPort), mPort, result));
        EXPECT_TRUE(result.IsOK()) << result.GetDescription().GetAscii();
    }

    TnGenParameterArray &operator*() { return *mArray; }
    TnGenParameterArray *operator->() { return mArray.get(); }
    explicit operator bool() const { return mArray != nullptr; }

    void PokeBig(uint64_t aAddress, uint64_t aValue, int aLength = 4)
    {
        uint8_t bytes[8];
        for (int i = 0; i < aLength; ++i)
        {
            bytes[i] = static_cast<uint8_t>(aValue >> (8 * (aLength - 1 - i)));
        }
        mPort->Poke(aAddress, bytes, aLength);
    }

    void PokeLittle(uint64_t aAddress, uint64_t aValue, int aLength = 4)
    {
        uint8_t bytes[8];
        for (int i = 0; i < aLength; ++i)
        {
            bytes[i] = static_cast<uint8_t>(aValue >> (8 * i));
        }
        mPort->Poke(aAddress, bytes, aLength);
    }

    uint64_t PeekBig(uint64_t aAddress, int aLength = 4)
    {
        uint8_t bytes[8] = {0};
        mPort->Peek(aAddress, bytes, aLength);
        uint64_t value = 0;
        for (int i = 0; i < aLength; ++i)
        {
            value = (value << 8) | bytes[i];
        }
        return value;
    }

    uint64_t PeekLittle(uint64_t aAddress, int aLength = 4)
    {
        uint8_t bytes[8] = {0};
        mPort->Peek(aAddress, bytes, aLength);
        uint64_t value = 0;
        for (int i = aLength - 1; i >= 0; --i)
        {
            value = (value << 8) | bytes[i];
        }
        return value;
    }

    int64_t Int(const char *aName)
    {
        int64_t value = 0;
        const TnResult result = mArray->GetIntegerValue(aName, value);
        EXPECT_TRUE(result.IsOK()) << aName << ": " << result.GetDescription().GetAscii();
        return value;
    }

    double Float(const char *aName)
    {
        double value = 0;
        const TnResult result = mArray->GetFloatValue(aName, value);
        EXPECT_TRUE(result.IsOK()) << aName << ": " << result.GetDescription().GetAscii();
        return value;
    }

    std::shared_ptr<MemoryPort> mPort;
    std::unique_ptr<TnGenParameterArray> mArray;
};

/// The result's code, with its description when the code differs.
#define EXPECT_CODE(aCode, aResult) \
    do \
    { \
        const TnResult expectCodeResult = (aResult); \
        EXPECT_EQ(static_cast<uint32_t>(aCode), expectCodeResult.GetCode()) \
            << expectCodeResult.GetDescription().GetAscii(); \
    } while (0)

} // namespace test
} // namespace genicam
} // namespace tn

#endif
