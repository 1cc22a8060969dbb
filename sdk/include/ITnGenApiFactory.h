// The feature factory: how a program adds GenICam features to the GenICam
// description that the software GigE Vision device publishes.
//
// A feature is built in two steps. The attribute operations fill the
// factory's pending feature; one creation operation then adds a feature of
// its kind from the pending feature and resets every attribute to its
// default, whatever its result. Attribute operations report nothing; what is
// wrong with a pending feature is reported by the creation operation, or, for
// what only the whole description shows (a name used by features of two
// kinds, a reference to a feature that does not exist, a formula that does
// not parse), by the device's Start, whose result then names the feature.
//
// Defaults of the pending feature: no display name (one is generated from
// the name and category), no category (the feature is not shown by
// browsers), access mode TnGenAccessModeUndefined (the register's access:
// read-write, read-only or write-only; read-only for chunk and event
// features), representation TnGenRepresentationUndefined (none written),
// visibility TnGenVisibilityBeginner, cache TnGenCacheNone (the program may
// change a register at any time, so clients read it again), no polling, name space TnGenNameSpaceCustom, neither locked while streaming
// nor streamable.
//
// Features whose value lies in a register are written as the feature node
// and a private register node named after the feature with "_Reg" added;
// registers are big-endian, plain registers unsigned unless the minimum is
// negative. A command's register is cleared after its PostWrite sinks ran, so
// that clients see the command done. Event mappings with aAdjustAddress
// count the offset from the end of the 16-byte event header.
#ifndef ITN_GENAPI_FACTORY_H
#define ITN_GENAPI_FACTORY_H

#include <stddef.h>
#include <stdint.h>

#include "ITnRegister.h"
#include "TnGenTypes.h"
#include "TnResult.h"
#include "TnString.h"

/// Builds GenICam features; handed out by the device while it starts.
///
/// Belongs to the device and is valid during the callback that received it.
class TN_SOFTDEVICE_API ITnGenApiFactory
{
#ifndef SWIG
protected:
    virtual ~ITnGenApiFactory();
#endif

public:
    /// The feature's name: letters, digits and underscores, beginning with
    /// a letter.
    virtual void SetName(const TnString &aName) = 0;

    /// A free text shown in place of the name.
    virtual void SetDisplayName(const TnString &aDisplayName) = 0;

    /// The category, levels separated by a backslash (Level1\Level2).
    virtual void SetCategory(const TnString &aCategory) = 0;

    /// The category and the display name of its last level.
    virtual void SetCategory(const TnString &aCategory, const TnString &aCategoryDisplayName) = 0;

    virtual void SetDescription(const TnString &aDescription) = 0;

    virtual void SetToolTip(const TnString &aToolTip) = 0;

    /// The access clients get, which may be narrower than the register's.
    virtual void SetAccessMode(TnGenAccessMode aAccessMode) = 0;

    /// How a number is shown (integer and float features; floats take only
    /// Linear, Logarithmic and PureNumber).
    virtual void SetRepresentation(TnGenRepresentation aRepresentation) = 0;

    virtual void SetVisibility(TnGenVisibility aVisibility) = 0;

    /// How clients cache the register behind the feature.
    virtual void SetCachable(TnGenCache aCache) = 0;

    /// A hint, in milliseconds, of how often clients refresh the feature.
    virtual void SetPollingTime(uint32_t aPollingTime) = 0;

    virtual void SetNameSpace(TnGenNameSpace aNameSpace) = 0;

    /// The feature becomes read-only while the device streams
    /// (TLParamsLocked), as Width and Height do.
    virtual void SetTLLocked(bool aLocked) = 0;

    /// The feature counts for persistence: its register is saved and loaded
    /// with the user sets.
    virtual void SetStreamable(bool aStreamable) = 0;

    /// Display text of the unit (numbers, SwissKnifes, converters).
    virtual void SetUnit(const TnString &aUnit) = 0;

    /// Another feature supplies the value; the creation operation then
    /// takes no register.
    virtual void SetPValue(const TnString &aFeatureName) = 0;

    /// The feature is available while the named feature is non-zero.
    virtual void SetPIsAvailable(const TnString &aFeatureName) = 0;

    /// The feature is locked (read-only) while the named feature is
    /// non-zero.
    virtual void SetPIsLocked(const TnString &aFeatureName) = 0;

    /// The value lies in the chunk aChunkID, aLength bytes at byte offset
    /// aAddress of the chunk's data, in the given byte order.
    virtual void MapChunk(uint32_t aChunkID, uint32_t aAddress, size_t aLength,
                          TnGenEndianness aEndianness = TnGenEndiannessLittle) = 0;

    /// The value lies in the data of the messaging-channel event aEventID,
    /// aLength bytes at byte offset aAddress, in the given byte order; with
    /// aAdjustAddress the offset counts from the end of the event header.
    virtual void MapEvent(uint32_t aEventID, uint32_t aAddress, size_t aLength,
                          TnGenEndianness aEndianness = TnGenEndiannessLittle, bool aAdjustAddress = true) = 0;

    /// Adds a selector of the feature: the named feature selects which
    /// instance of the new feature is accessed (and invalidates it).
    virtual void AddSelected(const TnString &aFeatureName) = 0;

    /// Writing the named feature invalidates clients' cached value of the
    /// new feature.
    virtual void AddInvalidator(const TnString &aFeatureName) = 0;

    /// Adds an entry for the next CreateEnum, with a generated display name.
    virtual void AddEnumEntry(const TnString &aName, uint32_t aValue) = 0;

    /// Adds an entry for the next CreateEnum; an empty display name is
    /// generated.
    virtual void AddEnumEntry(const TnString &aName, uint32_t aValue, const TnString &aDisplayName,
                              TnGenNameSpace aNameSpace = TnGenNameSpaceCustom) = 0;

    /// Declares a feature that the next SwissKnife or converter formula
    /// refers to by its exact name.
    virtual void AddVariable(const TnString &aFeatureName) = 0;

    /// An integer feature with constant limits (pMin, pMax and pInc take
    /// precedence). TN_NOT_INITIALIZED without a name; TN_INVALID_PARAMETER
    /// without a register, chunk, event or pValue, for a register of another
    /// length than 4 or 8, for aMin > aMax or aInc < 1.
    virtual TnResult CreateInteger(ITnRegister *aRegister, int64_t aMin, int64_t aMax, int64_t aInc = 1) = 0;

    /// An integer feature without limits of its own.
    virtual TnResult CreateInteger(ITnRegister *aRegister = nullptr) = 0;

    /// A float feature with constant limits; a 4-byte register holds an
    /// IEEE single, an 8-byte one a double. TN_INVALID_PARAMETER also for
    /// aMin > aMax or a limit that is not a number.
    virtual TnResult CreateFloat(ITnRegister *aRegister, double aMin, double aMax) = 0;

    /// A float feature without limits of its own.
    virtual TnResult CreateFloat(ITnRegister *aRegister = nullptr) = 0;

    /// A string feature (a byte-array register, a chunk, an event or pValue).
    virtual TnResult CreateString(ITnRegister *aRegister = nullptr) = 0;

    /// A register feature (raw bytes); TN_INVALID_PARAMETER without a
    /// register, chunk or event (a register feature takes no pValue).
    virtual TnResult CreateRegister(ITnRegister *aRegister = nullptr) = 0;

    /// A boolean feature: 1 is true, 0 false.
    virtual TnResult CreateBoolean(ITnRegister *aRegister = nullptr) = 0;

    /// A command feature: executing it writes 1; TN_INVALID_PARAMETER
    /// without a register or pValue.
    virtual TnResult CreateCommand(ITnRegister *aRegister = nullptr) = 0;

    /// An enumeration of the entries added since the previous creation;
    /// TN_INVALID_PARAMETER also without entries, or with two entries of one
    /// name.
    virtual TnResult CreateEnum(ITnRegister *aRegister = nullptr) = 0;

    /// A read-only integer computed by a formula over the declared variables
    /// on every read; TN_INVALID_PARAMETER for an empty formula.
    virtual TnResult CreateIntSwissKnife(const TnString &aFormula) = 0;

    /// The same with a float result.
    virtual TnResult CreateFloatSwissKnife(const TnString &aFormula) = 0;

    /// A read-write integer over the feature aValueFeatureName (TO in the
    /// from formula, FROM in the to formula); TN_INVALID_PARAMETER when a
    /// name or formula is empty.
    virtual TnResult CreateIntConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                        const TnString &aToFormula) = 0;

    /// The same with a float value.
    virtual TnResult CreateFloatConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                          const TnString &aToFormula) = 0;

    // Changes to features the device defines itself (PixelFormat,
    // TriggerSelector, ...), applied when the device builds its description;
    // the named features must exist then. Each answers TN_OK, or
    // TN_INVALID_PARAMETER for an empty name.

    /// Writing the invalidator drops clients' cached value of the feature.
    virtual TnResult AddInvalidatorTo(const TnString &aStandardFeatureName, const TnString &aInvalidatorFeatureName) = 0;

    /// The selector selects (and invalidates) the selected feature.
    virtual TnResult AddSelectedTo(const TnString &aSelectorFeatureName, const TnString &aSelectedFeatureName) = 0;

    /// The feature is available only while the named feature is non-zero.
    virtual TnResult SetPIsAvailableFor(const TnString &aStandardFeatureName, const TnString &aPIsAvailableFeatureName) = 0;

    /// The same for one entry of an enumeration.
    virtual TnResult SetPIsAvailableForEnumEntry(const TnString &aStandardFeatureName, const TnString &aEnumEntryName,
                                                 const TnString &aPIsAvailableFeatureName) = 0;

    virtual TnResult SetPIsLockedFor(const TnString &aStandardFeatureName, const TnString &aPIsLockedFeatureName) = 0;

    virtual TnResult SetPValueFor(const TnString &aStandardFeatureName, const TnString &aPValueFeatureName) = 0;

    virtual TnResult SetPMinFor(const TnString &aStandardFeatureName, const TnString &aPMinFeatureName) = 0;

    virtual TnResult SetPMaxFor(const TnString &aStandardFeatureName, const TnString &aPMaxFeatureName) = 0;

    virtual TnResult SetPIncFor(const TnString &aStandardFeatureName, const TnString &aPIncFeatureName) = 0;

    /// The named feature gives the dynamic minimum (integer or float).
    virtual void SetPMin(const TnString &aFeatureName) = 0;

    /// The named feature gives the dynamic maximum (integer or float).
    virtual void SetPMax(const TnString &aFeatureName) = 0;

    /// The named feature gives the dynamic increment (integer).
    virtual void SetPInc(const TnString &aFeatureName) = 0;
};

#endif
