// The feature factory: collects the program's features (ITnGenApiFactory)
// and the device's own, for libTnGenICam's writer to turn into GenICam XML.
#ifndef TN_GENAPI_FACTORY_H
#define TN_GENAPI_FACTORY_H

#include <stdint.h>

#include <mutex>
#include <vector>

#include "ITnGenApiFactory.h"
#include "TnGenApiWriter.h"
#include "TnRegisterMap.h"

namespace tn
{
namespace softdevice
{
using genicam::EnumEntrySpec;
using genicam::FeatureChange;
using genicam::FeatureKind;
using genicam::FeatureSpec;
using genicam::IsFeatureName;
using genicam::KindName;
using genicam::MappingSpec;
using genicam::RegisterBinding;

class TnGenApiFactory final : public ITnGenApiFactory
{
public:
    /// Registers given to creation operations must belong to aMap.
    explicit TnGenApiFactory(TnRegisterMap &aMap);
    ~TnGenApiFactory() override;
    TnGenApiFactory(const TnGenApiFactory &) = delete;
    TnGenApiFactory &operator=(const TnGenApiFactory &) = delete;

    void SetName(const TnString &aName) override;
    void SetDisplayName(const TnString &aDisplayName) override;
    void SetCategory(const TnString &aCategory) override;
    void SetCategory(const TnString &aCategory, const TnString &aCategoryDisplayName) override;
    void SetDescription(const TnString &aDescription) override;
    void SetToolTip(const TnString &aToolTip) override;
    void SetAccessMode(TnGenAccessMode aAccessMode) override;
    void SetRepresentation(TnGenRepresentation aRepresentation) override;
    void SetVisibility(TnGenVisibility aVisibility) override;
    void SetCachable(TnGenCache aCache) override;
    void SetPollingTime(uint32_t aPollingTime) override;
    void SetNameSpace(TnGenNameSpace aNameSpace) override;
    void SetTLLocked(bool aLocked) override;
    void SetStreamable(bool aStreamable) override;
    void SetUnit(const TnString &aUnit) override;
    void SetPValue(const TnString &aFeatureName) override;
    void SetPIsAvailable(const TnString &aFeatureName) override;
    void SetPIsLocked(const TnString &aFeatureName) override;
    void MapChunk(uint32_t aChunkID, uint32_t aAddress, size_t aLength,
                  TnGenEndianness aEndianness = TnGenEndiannessLittle) override;
    void MapEvent(uint32_t aEventID, uint32_t aAddress, size_t aLength, TnGenEndianness aEndianness = TnGenEndiannessLittle,
                  bool aAdjustAddress = true) override;
    void AddSelected(const TnString &aFeatureName) override;
    void AddInvalidator(const TnString &aFeatureName) override;
    void AddEnumEntry(const TnString &aName, uint32_t aValue) override;
    void AddEnumEntry(const TnString &aName, uint32_t aValue, const TnString &aDisplayName,
                      TnGenNameSpace aNameSpace = TnGenNameSpaceCustom) override;
    void AddVariable(const TnString &aFeatureName) override;
    TnResult CreateInteger(ITnRegister *aRegister, int64_t aMin, int64_t aMax, int64_t aInc = 1) override;
    TnResult CreateInteger(ITnRegister *aRegister = nullptr) override;
    TnResult CreateFloat(ITnRegister *aRegister, double aMin, double aMax) override;
    TnResult CreateFloat(ITnRegister *aRegister = nullptr) override;
    TnResult CreateString(ITnRegister *aRegister = nullptr) override;
    TnResult CreateRegister(ITnRegister *aRegister = nullptr) override;
    TnResult CreateBoolean(ITnRegister *aRegister = nullptr) override;
    TnResult CreateCommand(ITnRegister *aRegister = nullptr) override;
    TnResult CreateEnum(ITnRegister *aRegister = nullptr) override;
    TnResult CreateIntSwissKnife(const TnString &aFormula) override;
    TnResult CreateFloatSwissKnife(const TnString &aFormula) override;
    TnResult CreateIntConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                const TnString &aToFormula) override;
    TnResult CreateFloatConverter(const TnString &aValueFeatureName, const TnString &aFromFormula,
                                  const TnString &aToFormula) override;
    TnResult AddInvalidatorTo(const TnString &aStandardFeatureName, const TnString &aInvalidatorFeatureName) override;
    TnResult AddSelectedTo(const TnString &aSelectorFeatureName, const TnString &aSelectedFeatureName) override;
    TnResult SetPIsAvailableFor(const TnString &aStandardFeatureName, const TnString &aPIsAvailableFeatureName) override;
    TnResult SetPIsAvailableForEnumEntry(const TnString &aStandardFeatureName, const TnString &aEnumEntryName,
                                         const TnString &aPIsAvailableFeatureName) override;
    TnResult SetPIsLockedFor(const TnString &aStandardFeatureName, const TnString &aPIsLockedFeatureName) override;
    TnResult SetPValueFor(const TnString &aStandardFeatureName, const TnString &aPValueFeatureName) override;
    TnResult SetPMinFor(const TnString &aStandardFeatureName, const TnString &aPMinFeatureName) override;
    TnResult SetPMaxFor(const TnString &aStandardFeatureName, const TnString &aPMaxFeatureName) override;
    TnResult SetPIncFor(const TnString &aStandardFeatureName, const TnString &aPIncFeatureName) override;
    void SetPMin(const TnString &aFeatureName) override;
    void SetPMax(const TnString &aFeatureName) override;
    void SetPInc(const TnString &aFeatureName) override;

    // The device's side.
    /// Features created from now on belong to source aOwner (-1: the device).
    void SetOwner(int aOwner);
    /// Adds a feature as it is (one of the device's own); a streamable
    /// feature bound to a register of the map makes the register persistent.
    void AddFeature(const FeatureSpec &aFeature);
    /// After Close the attribute operations do nothing and the others answer
    /// TN_STATE_ERROR, so that a factory kept past its callback harms nothing.
    void Close();
    void Open();
    std::vector<FeatureSpec> GetFeatures() const;
    std::vector<FeatureChange> GetChanges() const;
    /// Forgets every feature and change.
    void Clear();

private:
    /// Changes the pending feature, unless the factory is closed.
    template <typename Edit_> void Edit(Edit_ &&aEdit)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mOpen)
        {
            aEdit(mPending);
        }
    }
    TnResult Create(FeatureKind aKind, ITnRegister *aRegister);
    TnResult CreateConverterOrKnife(FeatureKind aKind, const TnString &aValueFeatureName, const TnString &aFromFormula,
                                    const TnString &aToFormula);
    TnResult CheckPending(FeatureKind aKind, ITnRegister *aRegister, RegisterBinding &aBinding);
    TnResult Change(FeatureChange::Kind aKind, const TnString &aTarget, const TnString &aArgument,
                    const TnString *aEntry = nullptr);
    void Commit(FeatureSpec &aFeature);

    TnRegisterMap &mMap;
    mutable std::mutex mMutex;
    bool mOpen;
    int mOwner;
    uint64_t mPersistOrder;
    FeatureSpec mPending;
    std::vector<FeatureSpec> mFeatures;
    std::vector<FeatureChange> mChanges;
};
} // namespace softdevice
} // namespace tn

#endif
