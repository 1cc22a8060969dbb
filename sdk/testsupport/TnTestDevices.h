// Test support: GigE Vision devices for tests, each in the test program's
// private network. MemoryDevice is played by our own responder (serve it with
// a tn::gev::TnGvcpServer); FakeCamera is the independent peer, the aravis
// fake camera, run beside the test.
#ifndef TN_TEST_DEVICES_H
#define TN_TEST_DEVICES_H

#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "TnGvcp.h"
#include "TnGvcpServer.h"
#include "TnTestNetwork.h"
#include "TnTestProcess.h"

namespace tn
{
namespace test
{
/// A device whose registers are plain memory: the bootstrap block of its
/// description at address 0, big-endian words. Reads and writes outside the
/// memory answer GEV_STATUS_INVALID_ADDRESS, writes below the protected limit
/// GEV_STATUS_WRITE_PROTECT. Safe to use from the test while the responder
/// serves it.
class MemoryDevice : public tn::gev::TnGvcpRegisterHandler
{
public:
    /// aSize bytes of memory (at least the bootstrap block).
    explicit MemoryDevice(const tn::gev::TnGvcpDeviceInfo &aInfo, size_t aSize = 0);

    uint16_t ReadMemory(const tn::gev::TnGvcpPeer &aPeer, uint32_t aAddress, uint8_t *aData, size_t aSize) override;
    uint16_t WriteMemory(const tn::gev::TnGvcpPeer &aPeer, uint32_t aAddress, const uint8_t *aData,
                         size_t aSize) override;

    /// Commands write nothing below aLimit (every address: the whole device
    /// is read-only).
    void ProtectBelow(uint64_t aLimit);

    /// Puts a GenICam description into memory at aAddress and names it in
    /// the first URL register ("Local:aFileName;address;length").
    void SetDescription(const std::string &aFileName, const std::string &aXml, uint32_t aAddress);

    // What the test itself writes and reads, past any protection.
    void Write(uint32_t aAddress, const void *aData, size_t aSize);
    void PutWord(uint32_t aAddress, uint32_t aValue);
    uint32_t Word(uint32_t aAddress);
    std::vector<uint8_t> Snapshot(uint32_t aAddress, size_t aSize);

    /// How many write commands took effect.
    int GetWriteCount();

private:
    std::mutex mMutex;
    std::vector<uint8_t> mMemory;
    uint64_t mProtectedBelow = 0;
    int mWrites = 0;
};

/// A device that only announces the bootstrap block of its description:
/// read-only, with no memory beyond the block.
class BootstrapDevice : public MemoryDevice
{
public:
    explicit BootstrapDevice(const tn::gev::TnGvcpDeviceInfo &aInfo);
};

/// The aravis fake camera (Debian package aravis-tools), run on 127.0.0.1 in
/// the test's network namespace.
class FakeCamera
{
public:
    static constexpr const char *kProgram = "arv-fake-gv-camera-0.8";

    /// Whether the program is installed.
    static bool IsInstalled();

    /// Starts the camera with a serial number (and further options, such as
    /// "-r" with lost packets per thousand) and waits (at most about ten
    /// seconds) until it answers discovery; false, with the reason, when it
    /// does not.
    bool Start(const std::string &aSerial, std::string &aWhy, const std::vector<std::string> &aOptions = {});
    void Stop();
    /// Kills the camera at once: it neither answers nor lets go of anything.
    void Kill();

private:
    ChildProcess mProcess;
};

/// A description of simulated devices (see TARN_SIMULATED_DEVICES) in a
/// temporary file, which the variable names while the object lives.
class SimulatedDevicesFile
{
public:
    explicit SimulatedDevicesFile(const std::string &aText);
    ~SimulatedDevicesFile();
    SimulatedDevicesFile(const SimulatedDevicesFile &) = delete;
    SimulatedDevicesFile &operator=(const SimulatedDevicesFile &) = delete;

private:
    std::string mPath;
};

/// Fixture: each test in a fresh network namespace of its own
/// (FreshNetworkTest) with the aravis fake camera running there under the
/// serial number mSerial; skipped where namespaces or the camera are missing.
class FakeCameraTest : public FreshNetworkTest
{
protected:
    void SetUp() override;

    FakeCamera mCamera;
    std::string mSerial;
};
} // namespace test
} // namespace tn

#endif
