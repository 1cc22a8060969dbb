// Real cameras' GenICam descriptions: every file of the shared corpus loads,
// and every feature and category can be walked over a zero-filled device
// port without a crash. The corpus lies beside the repository
// (<repository>/../shared/genicam-corpus/xml) or where TARN_GENICAM_CORPUS
// points; without it the tests are skipped.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::CreateParameterArray;
using tn::genicam::GetWarnings;

namespace
{
// A device whose every register reads as zero; writes are accepted and
// forgotten, so a walk sees the same device throughout.
class ZeroPort : public tn::genicam::IPort
{
public:
    TnResult Read(uint64_t, void *aData, size_t aLength) override
    {
        memset(aData, 0, aLength);
        return TnResult();
    }
    TnResult Write(uint64_t, const void *, size_t) override { return TnResult(); }
};

// TARN_GENICAM_CORPUS, else shared/genicam-corpus/xml beside the repository
// (or beside a folder above it, for checkouts nested one level deeper).
std::string CorpusDirectory()
{
    const char *lOverride = getenv("TARN_GENICAM_CORPUS");
    if (lOverride != nullptr && *lOverride != '\0')
    {
        return lOverride;
    }
    std::string lFolder = TARN_SOURCE_DIR;
    for (int lLevel = 0; lLevel < 3 && lFolder.find('/') != std::string::npos; ++lLevel)
    {
        lFolder = lFolder.substr(0, lFolder.find_last_of('/'));
        const std::string lCandidate = lFolder + "/shared/genicam-corpus/xml";
        if (DIR *lDir = opendir(lCandidate.c_str()))
        {
            closedir(lDir);
            return lCandidate;
        }
    }
    return std::string(TARN_SOURCE_DIR) + "/../shared/genicam-corpus/xml";
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> lFiles;
    const std::string lDirectory = CorpusDirectory();
    if (DIR *lDir = opendir(lDirectory.c_str()))
    {
        while (dirent *lEntry = readdir(lDir))
        {
            const std::string lName = lEntry->d_name;
            if (lName.size() > 4 && lName.compare(lName.size() - 4, 4, ".xml") == 0)
            {
                lFiles.push_back(lDirectory + "/" + lName);
            }
        }
        closedir(lDir);
    }
    std::sort(lFiles.begin(), lFiles.end());
    return lFiles;
}

std::string ReadFile(const std::string &aPath)
{
    std::ifstream lFile(aPath, std::ios::binary);
    std::stringstream lText;
    lText << lFile.rdbuf();
    return lText.str();
}

std::string BaseName(const std::string &aPath)
{
    return aPath.substr(aPath.find_last_of('/') + 1);
}

// What a walk saw: the features whose value could not be read, by reason.
struct Walk
{
    size_t mFeatures = 0;
    size_t mValuesRead = 0;
    std::map<std::string, std::string> mFailures; // feature -> reason

    void Note(TnGenParameter &aParameter, const TnResult &aResult)
    {
        if (aResult.IsOK())
        {
            ++mValuesRead;
            return;
        }
        TnString lName;
        aParameter.GetName(lName);
        mFailures.emplace(lName.GetAscii(), aResult.GetDescription().GetAscii());
    }
};

// Reads everything a user interface would show of a feature.
void WalkFeature(TnGenParameter &aParameter, Walk &aWalk)
{
    ++aWalk.mFeatures;
    TnString lText;
    TnGenType lType = TnGenTypeUndefined;
    EXPECT_TRUE(aParameter.GetType(lType).IsOK());
    aParameter.GetName(lText);
    aParameter.GetDisplayName(lText);
    aParameter.GetToolTip(lText);
    aParameter.GetDescription(lText);
    aParameter.GetCategory(lText);
    TnGenVisibility lVisibility;
    aParameter.GetVisibility(lVisibility);
    TnGenNameSpace lNameSpace;
    aParameter.GetNameSpace(lNameSpace);
    bool lFlag = false;
    aParameter.IsImplemented(lFlag);
    aParameter.IsAvailable(lFlag);
    aParameter.IsReadable(lFlag);
    aParameter.IsWritable(lFlag);
    aParameter.IsStreamable(lFlag);
    aParameter.IsSelector(lFlag);
    aParameter.IsValueCached(lFlag);
    TnGenParameterList lList;
    aParameter.GetSelectedParameters(lList);
    aParameter.GetSelectingParameters(lList);
    aParameter.ToString(lText);

    if (auto *lInteger = dynamic_cast<TnGenInteger *>(&aParameter))
    {
        int64_t lValue = 0;
        aWalk.Note(aParameter, lInteger->GetValue(lValue));
        lInteger->GetMin(lValue);
        lInteger->GetMax(lValue);
        lInteger->GetIncrement(lValue);
        TnGenRepresentation lRepresentation;
        lInteger->GetRepresentation(lRepresentation);
        lInteger->GetUnit(lText);
    }
    else if (auto *lFloat = dynamic_cast<TnGenFloat *>(&aParameter))
    {
        double lValue = 0;
        aWalk.Note(aParameter, lFloat->GetValue(lValue));
        lFloat->GetMin(lValue);
        lFloat->GetMax(lValue);
        lFloat->GetUnit(lText);
    }
    else if (auto *lEnum = dynamic_cast<TnGenEnum *>(&aParameter))
    {
        int64_t lValue = 0;
        aWalk.Note(aParameter, lEnum->GetValue(lValue));
        lEnum->GetValue(lText);
        int64_t lCount = 0;
        EXPECT_TRUE(lEnum->GetEntriesCount(lCount).IsOK());
        for (int64_t lIndex = 0; lIndex < lCount; ++lIndex)
        {
            const TnGenEnumEntry *lEntry = nullptr;
            ASSERT_TRUE(lEnum->GetEntryByIndex(lIndex, &lEntry).IsOK());
            ASSERT_NE(nullptr, lEntry);
            lEntry->GetName(lText);
            lEntry->GetDisplayName(lText);
            lEntry->GetValue(lValue);
            lEntry->IsAvailable(lFlag);
            lEntry->IsVisible(TnGenVisibilityGuru, lFlag);
        }
    }
    else if (auto *lBoolean = dynamic_cast<TnGenBoolean *>(&aParameter))
    {
        aWalk.Note(aParameter, lBoolean->GetValue(lFlag));
    }
    else if (auto *lString = dynamic_cast<TnGenString *>(&aParameter))
    {
        aWalk.Note(aParameter, lString->GetValue(lText));
        int64_t lLength = 0;
        lString->GetMaxLength(lLength);
    }
    else if (auto *lCommand = dynamic_cast<TnGenCommand *>(&aParameter))
    {
        aWalk.Note(aParameter, lCommand->IsDone(lFlag));
    }
    else if (auto *lRegister = dynamic_cast<TnGenRegister *>(&aParameter))
    {
        int64_t lLength = 0;
        if (lRegister->GetLength(lLength).IsOK() && lLength > 0 && lLength <= 65536)
        {
            std::vector<uint8_t> lBytes(static_cast<size_t>(lLength));
            aWalk.Note(aParameter, lRegister->Get(lBytes.data(), lLength));
        }
    }
}

void WalkArray(TnGenParameterArray &aArray, Walk &aWalk)
{
    for (uint32_t lIndex = 0; lIndex < aArray.GetCount(); ++lIndex)
    {
        TnGenParameter *lParameter = aArray.Get(lIndex);
        ASSERT_NE(nullptr, lParameter);
        WalkFeature(*lParameter, aWalk);
    }
    for (uint32_t lIndex = 0; lIndex < aArray.GetCategoryCount(); ++lIndex)
    {
        TnGenCategory *lCategory = aArray.GetCategory(lIndex);
        ASSERT_NE(nullptr, lCategory);
        TnString lText;
        EXPECT_TRUE(lCategory->GetName(lText).IsOK());
        lCategory->GetDisplayName(lText);
        bool lFlag = false;
        lCategory->IsImplemented(lFlag);
        lCategory->IsVisible(TnGenVisibilityBeginner, lFlag);
    }
}

class Corpus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mFiles = CorpusFiles();
        if (mFiles.empty())
        {
            GTEST_SKIP() << "no GenICam corpus at " << CorpusDirectory()
                         << " (set TARN_GENICAM_CORPUS to the folder of its XML files)";
        }
    }

    std::vector<std::string> mFiles;
};
} // namespace

TEST_F(Corpus, EveryDescriptionLoadsAndEveryFeatureCanBeWalked)
{
    for (const std::string &lPath : mFiles)
    {
        SCOPED_TRACE(lPath);
        const std::string lXml = ReadFile(lPath);
        const auto lStart = std::chrono::steady_clock::now();
        TnResult lResult;
        std::unique_ptr<TnGenParameterArray> lArray(CreateParameterArray(lXml, std::make_shared<ZeroPort>(), lResult));
        ASSERT_TRUE(lArray != nullptr) << lResult.GetDescription().GetAscii();
        const auto lLoaded = std::chrono::steady_clock::now();
        Walk lWalk;
        WalkArray(*lArray, lWalk);
        const auto lWalked = std::chrono::steady_clock::now();
        EXPECT_GT(lWalk.mFeatures, 0u);
        // For the record (no timing is checked here: bench/ measures).
        printf("%-32s %5zu features %4u categories %4zu values failing %3zu warnings %6.1f ms load %6.1f ms walk\n",
               BaseName(lPath).c_str(), lWalk.mFeatures, lArray->GetCategoryCount(), lWalk.mFailures.size(),
               GetWarnings(lArray.get()).size(), std::chrono::duration<double, std::milli>(lLoaded - lStart).count(),
               std::chrono::duration<double, std::milli>(lWalked - lLoaded).count());
        if (getenv("TARN_GENICAM_CORPUS_VERBOSE") != nullptr)
        {
            for (const std::string &lWarning : GetWarnings(lArray.get()))
            {
                printf("    warning: %s\n", lWarning.c_str());
            }
            for (const auto &lFailure : lWalk.mFailures)
            {
                printf("    %s: %s\n", lFailure.first.c_str(), lFailure.second.c_str());
            }
        }
    }
}

// The same descriptions damaged as a careless tool might: references to
// undefined names, malformed addresses and lengths, registers without a
// port, entries without a name. They still load; what depends on the damage
// fails, and nothing crashes.
TEST_F(Corpus, DamagedDescriptionsStillLoadAndWalk)
{
    struct Damage
    {
        const char *mOpen;
        const char *mReplacement; // for the text up to the closing tag; null removes the element
        size_t mEvery;
    };
    const Damage kDamages[] = {{"<pValue>", "Undefined", 5},      {"<Address>", "zz", 7},
                               {"<pPort>", nullptr, 9},           {"<Length>", "-1", 11},
                               {"<pVariable Name=", nullptr, 13}, {"<pIndex>", "Nobody", 3},
                               {"<EnumEntry Name=", "", 17},      {"<Formula>", "(1 +", 19},
                               {"<pFeature>", "Ghost", 4}};
    for (const std::string &lPath : mFiles)
    {
        SCOPED_TRACE(lPath);
        std::string lXml = ReadFile(lPath);
        for (const Damage &lDamage : kDamages)
        {
            size_t lCount = 0;
            for (size_t lAt = lXml.find(lDamage.mOpen); lAt != std::string::npos;
                 lAt = lXml.find(lDamage.mOpen, lAt + 1))
            {
                if (++lCount % lDamage.mEvery != 0)
                {
                    continue;
                }
                const size_t lTextStart = lXml.find('>', lAt) + 1;
                const size_t lClose = lXml.find("</", lTextStart);
                const size_t lEnd = lXml.find('>', lClose) + 1;
                if (lTextStart == 0 || lClose == std::string::npos || lEnd == 0)
                {
                    break;
                }
                if (lDamage.mReplacement == nullptr)
                {
                    lXml.erase(lAt, lEnd - lAt);
                }
                else if (*lDamage.mReplacement == '\0')
                {
                    lXml.replace(lAt, lTextStart - lAt, "<EnumEntry>");
                }
                else
                {
                    lXml.replace(lTextStart, lClose - lTextStart, lDamage.mReplacement);
                }
            }
        }
        TnResult lResult;
        std::unique_ptr<TnGenParameterArray> lArray(CreateParameterArray(lXml, std::make_shared<ZeroPort>(), lResult));
        ASSERT_TRUE(lArray != nullptr) << lResult.GetDescription().GetAscii();
        EXPECT_FALSE(GetWarnings(lArray.get()).empty());
        Walk lWalk;
        WalkArray(*lArray, lWalk);
        EXPECT_GT(lWalk.mValuesRead, 0u);
    }
}
