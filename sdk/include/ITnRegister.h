// Registers of the software GigE Vision device: their description, their
// value access, the observer of their accesses and the user-set store.
//
// A register is a run of bytes in the device's address space, the space that
// a controller's GigE Vision register and memory reads and writes reach.
// Every multi-byte value is kept big-endian, as on the wire: ReadInt and
// Write(uint32_t) take four bytes at an offset, most significant byte first,
// so an 8-byte register holds its high word at offset 0 and its low word at
// offset 4; strings are UTF-8 bytes, padded with zero bytes.
#ifndef ITN_REGISTER_H
#define ITN_REGISTER_H

#include <stddef.h>
#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"


class ITnRegister;
class ITnRegisterStore;

/// The observer of a register's accesses.
///
/// The device calls a sink before and after every read and write of each
/// register it is registered with, whether the access comes from a GigE
/// Vision controller (on the device's control thread) or from the program
/// through ITnRegister (on the program's thread), and asks it to persist the
/// register when a user set is saved or loaded.
///
/// The device holds none of its locks while it calls a sink, so a sink may
/// read and write registers and walk the register map. While a sink runs for
/// a register, accesses to that same register from the same thread do not
/// call the register's sinks again: they see and change the plain content.
/// Whatever a sink throws is caught and logged: a throwing PreRead or
/// PreWrite fails the access as a refusal with TN_GENERIC_ERROR would, a
/// throwing PostRead or PostWrite is ignored, a throwing Persist counts as a
/// failed persistence of that register. The device runs on.
///
/// A sink is held by address only: it must outlive its registration.
//
// One destroyed all the same leaves its registers in this class's destructor,
// which waits for their calls of it on other threads. That runs after the
// destructors of subclasses, whose parts a call in between would reach half
// destroyed: TnSoftDeviceRelease does the same before the destruction begins.
class TN_SOFTDEVICE_API ITnRegisterEventSink
{
public:
    /// A sink that observes nothing until it is added to a register.
    ITnRegisterEventSink() {}

    /// Virtual destructor.
    // It leaves the registers the sink is registered with.
    virtual ~ITnRegisterEventSink();

    /// Before a read; the place to refresh the register's content. A result
    /// other than TN_OK fails the read.
    virtual TnResult PreRead(ITnRegister *aRegister)
    {
        (void)aRegister;
        return TnResult(TN_OK);
    }

    /// After a successful read.
    virtual void PostRead(ITnRegister *aRegister)
    {
        (void)aRegister;
    }

    /// Before a write is committed: the register already holds the new
    /// value. A result other than TN_OK refuses the write, and the register
    /// gets its former value back. A controller's refused write is answered
    /// with a GigE Vision error status: a code from 0x8001 to 0x8FFF is sent
    /// as it is, TN_INVALID_PARAMETER as invalid parameter (0x8002),
    /// TN_NOT_IMPLEMENTED and TN_NOT_SUPPORTED as not implemented (0x8001),
    /// TN_STATE_ERROR as access denied (0x8006), TN_BUSY as busy (0x8007)
    /// and any other code as generic error (0x8FFF). Other sinks of the
    /// register may still refuse: react to a new value in PostWrite.
    virtual TnResult PreWrite(ITnRegister *aRegister)
    {
        (void)aRegister;
        return TnResult(TN_OK);
    }

    /// After a write that every sink accepted.
    virtual void PostWrite(ITnRegister *aRegister)
    {
        (void)aRegister;
    }

    /// A user set is being saved or loaded. A register whose value depends
    /// on selectors calls aStore->Persist once for each combination of its
    /// selectors (with a suffix naming the combination, the selectors set to
    /// it) and returns TN_OK. TN_NOT_IMPLEMENTED, the default, lets the
    /// device save and load the register's plain content; another code
    /// reports a failure.
    virtual TnResult Persist(ITnRegister *aRegister, ITnRegisterStore *aStore)
    {
        (void)aRegister;
        (void)aStore;
        return TnResult(TN_NOT_IMPLEMENTED);
    }
};

#ifndef SWIG
/// Makes the registers call aSink no more, waiting for their calls of it in
/// progress on other threads (not for one on this thread), as its destructor
/// does: for a program that destroys a sink whose subclass's parts a call
/// would use while registers may still call it. The overloads beside the
/// other interfaces the device calls do the same for the device and its
/// stream channels.
TN_SOFTDEVICE_API void TnSoftDeviceRelease(ITnRegisterEventSink *aSink);
#endif

/// The description of a register.
///
/// Registers belong to the device's register map; they cannot be deleted
/// through their interfaces.
class TN_SOFTDEVICE_API ITnRegisterInfo
{
#ifndef SWIG
protected:
    virtual ~ITnRegisterInfo();
#endif

public:
    /// The register's name, unique in the map.
    virtual const TnString &GetName() = 0;

    /// The address of the register's first byte.
    virtual uint32_t GetAddress() const = 0;

    /// The length in bytes: 4 or 8 for a plain register, a multiple of 4
    /// for a byte array.
    virtual size_t GetLength() const = 0;

    /// The pointer given when the register was created.
    virtual const void *GetContext() const = 0;

    /// The pointer given when the register was created.
    virtual void *GetContext() = 0;

    /// Whether a controller may write it; the program's own writes may
    /// change a read-only register.
    virtual bool IsWritable() const = 0;

    /// Whether a controller may read it.
    virtual bool IsReadable() const = 0;

    /// True for a byte array (AddByteArray), false for a plain 4- or 8-byte
    /// register (AddRegister, AddRegisterAuto).
    virtual bool IsArrayOfBytes() const = 0;
};

/// A register: its description, value access and event sinks.
///
/// Safe to use from several threads at once. Every access calls the
/// register's event sinks (see ITnRegisterEventSink) on the calling thread.
/// Offsets count bytes from the register's start; an access that would reach
/// past the register's end answers TN_INVALID_PARAMETER and changes nothing.
class TN_SOFTDEVICE_API ITnRegister : public ITnRegisterInfo
{
#ifndef SWIG
protected:
    ~ITnRegister() override;
#endif

public:
    /// Reads aDataLength bytes at aOffset into aData.
    virtual TnResult ReadBytes(uint8_t *aData, uint32_t aDataLength, uint32_t aOffset = 0) = 0;

    /// Writes aDataLength bytes from aData at aOffset.
    virtual TnResult Write(const uint8_t *aData, uint32_t aDataLength, uint32_t aOffset = 0) = 0;

    /// Reads the 4-byte unsigned integer at aOffset (big-endian).
    virtual TnResult ReadInt(uint32_t &aValue, uint32_t aOffset = 0) = 0;

    /// Writes a 4-byte unsigned integer at aOffset (big-endian).
    virtual TnResult Write(uint32_t aValue, uint32_t aOffset = 0) = 0;

    /// Reads the register's bytes up to the first zero byte as UTF-8 text.
    virtual TnResult ReadString(TnString &aValue) = 0;

    /// Writes the string's UTF-8 bytes and fills the rest with zero bytes;
    /// TN_INVALID_PARAMETER for a string longer than the register.
    virtual TnResult Write(const TnString &aValue) = 0;

    /// Reads the register as a float: a 4-byte register holds an IEEE
    /// single, an 8-byte register an IEEE double (converted), a byte array
    /// a single in its first four bytes.
    virtual TnResult ReadFloat(float &aValue) = 0;

    /// Writes a float in the register's width (as ReadFloat).
    virtual TnResult WriteFloat(float aValue) = 0;

    /// Reads the register as a double: a 4-byte register holds an IEEE
    /// single (converted), an 8-byte register or a byte array an IEEE double
    /// in its first eight bytes.
    virtual TnResult ReadDouble(double &aValue) = 0;

    /// Writes a double in the register's width (as ReadDouble).
    virtual TnResult WriteDouble(double aValue) = 0;

    /// Registers an event sink; TN_INVALID_PARAMETER for a null sink or one
    /// already registered.
    virtual TnResult AddEventSink(ITnRegisterEventSink *aEventSink) = 0;

    /// Unregisters an event sink; TN_INVALID_PARAMETER for a null sink or
    /// one not registered. Once it returns, the register no longer calls
    /// the sink, also from other threads (except where the sink removes
    /// itself from inside one of its own calls for this register).
    virtual TnResult RemoveEventSink(ITnRegisterEventSink *aEventSink) = 0;
};

/// The user-set store, handed to ITnRegisterEventSink::Persist.
///
/// Valid during that call only; it belongs to the device.
class TN_SOFTDEVICE_API ITnRegisterStore
{
#ifndef SWIG
protected:
    virtual ~ITnRegisterStore();
#endif

public:
    /// Saves the register's content under the name of its feature followed
    /// by aNameSuffix when a user set is saved; when one is loaded, writes
    /// what was saved under that name into the register (calling its sinks'
    /// PreWrite and PostWrite). TN_NOT_FOUND when a loaded user set holds
    /// nothing under that name, TN_INVALID_PARAMETER for a null register.
    virtual TnResult Persist(ITnRegister *aRegister, const TnString &aNameSuffix) = 0;
};

#endif
