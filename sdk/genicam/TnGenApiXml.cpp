// Building a node map from GenICam XML, read with libxml2's SAX interface:
// each node's element is collected as an Element and handed to the node map
// as soon as it closes, without a document tree.
//
// A description comes from the camera and is read as hostile input: what it
// may cost is bounded by limits far above what real descriptions need (see
// below), each refused with TN_GENICAM_XML_ERROR naming it; a description
// that declares entities is refused, as none of a real camera does; the
// loading ends with TN_ABORTED when the calling thread's waits are
// interrupted (TnWait.h).
#include <ctype.h>
#include <string.h>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "TnGenApi.h"
#include "TnGenApiText.h"
#include "TnWait.h"

namespace TN_GENAPI_NS
{

namespace
{
// The limits of a description, which bound the memory a node map takes
// (with the node map's own, INodeMap::kMaxNodes).
// The largest real descriptions hold some 34,000 elements and attributes,
// 3,900 nodes, 530 elements in one node, 460 KB of text, 14 KB in one
// element and 16 attributes in one (the root's).
/// Attributes of one element: a node has at most five, the root a dozen
/// and its namespace declarations.
const size_t kMaxAttributes = 64;
/// Text of one element.
const size_t kMaxElementText = 256u << 10;
/// Text and attribute values of the whole description, counted for each
/// node that keeps a copy.
const size_t kMaxText = 8u << 20;
/// Elements and attributes, a StructReg's shared elements counted for each
/// of its entries.
const size_t kMaxElements = 200000;
/// Elements of one node (what is collected before the node is made).
const size_t kMaxNodeElements = 16384;
/// How many elements pass between two questions whether to stop.
const size_t kInterruptCheck = 1024;

const char *const kNodeKinds[] = {
    "Node",         "Category", "Integer", "IntReg",    "MaskedIntReg", "Float",          "FloatReg",     "Enumeration",
    "Boolean",      "Command",  "String",  "StringReg", "Register",     "IntSwissKnife",  "SwissKnife",   "Converter",
    "IntConverter", "Port",     "ConfRom", "TextDesc",  "IntKey",       "AdvFeatureLock", "SmartFeature", "DcamLock"};

bool IsNodeKind(const std::string &aName)
{
    for (const char *lKind : kNodeKinds)
    {
        if (aName == lKind)
        {
            return true;
        }
    }
    return false;
}

std::string Text(const xmlChar *aText)
{
    return aText != nullptr ? std::string(reinterpret_cast<const char *>(aText)) : std::string();
}

// Turns SAX events into nodes of a node map.
class Loader
{
public:
    explicit Loader(INodeMap &aMap) : mMap(aMap) { mOpen.reserve(16); }

    void Start(const xmlChar *aName, const xmlChar *aNamespace, int aAttributes, const xmlChar **aValues, long aLine)
    {
        mLineNow = aLine;
        CountElements(1 + static_cast<size_t>(aAttributes));
        if (++mStarted % kInterruptCheck == 0 && mPacer.Stop())
        {
            throw GenApiError(TN_ABORTED, "the description's loading was interrupted");
        }
        if (static_cast<size_t>(aAttributes) > kMaxAttributes)
        {
            Refuse("an element has more than " + std::to_string(kMaxAttributes) + " attributes");
        }
        const std::string lName = Text(aName);
        if (mDepth++ == 0)
        {
            StartRoot(lName, aNamespace, aAttributes, aValues);
            return;
        }
        if (mOpen.empty() && lName == "Group")
        {
            return; // a Group only gathers nodes
        }
        if (mOpen.empty())
        {
            mNodeElements = 0;
        }
        else if (++mNodeElements > kMaxNodeElements)
        {
            Refuse("the " + mOpen.front().mName + " element holds more than " + std::to_string(kMaxNodeElements) +
                   " elements");
        }
        mOpen.emplace_back();
        Element &lElement = mOpen.back();
        lElement.mName = lName;
        for (int lIndex = 0; lIndex < aAttributes; ++lIndex)
        {
            // localname, prefix, URI, value, end of value
            const xmlChar **lAttribute = aValues + 5 * lIndex;
            CountText(static_cast<size_t>(lAttribute[4] - lAttribute[3]));
            lElement.mAttributes.emplace_back(Text(lAttribute[0]),
                                              std::string(reinterpret_cast<const char *>(lAttribute[3]),
                                                          static_cast<size_t>(lAttribute[4] - lAttribute[3])));
        }
        if (mOpen.size() == 1)
        {
            mLine = aLine;
        }
    }

    void End()
    {
        --mDepth;
        if (mOpen.empty())
        {
            return; // the end of a Group or of the root
        }
        Element lElement = std::move(mOpen.back());
        mOpen.pop_back();
        // Characters left out the leading white space; drop the trailing.
        std::string &lText = lElement.mText;
        while (!lText.empty() && isspace(static_cast<unsigned char>(lText.back())))
        {
            lText.pop_back();
        }
        if (!mOpen.empty())
        {
            std::vector<Element> &lSiblings = mOpen.back().mChildren;
            if (lSiblings.empty())
            {
                lSiblings.reserve(8);
            }
            lSiblings.push_back(std::move(lElement));
        }
        else if (lElement.Is("StructReg"))
        {
            LoadStruct(std::move(lElement));
        }
        else if (IsNodeKind(lElement.mName))
        {
            LoadNode(std::move(lElement));
        }
    }

    void Characters(const xmlChar *aText, int aLength)
    {
        if (mOpen.empty())
        {
            return;
        }
        std::string &lText = mOpen.back().mText;
        // Leading white space goes anyway (the text is trimmed): most of it
        // lies between elements.
        int lStart = 0;
        if (lText.empty())
        {
            while (lStart < aLength && isspace(aText[lStart]))
            {
                ++lStart;
            }
        }
        const size_t lLength = static_cast<size_t>(aLength - lStart);
        if (lText.size() + lLength > kMaxElementText)
        {
            Refuse("the text of a " + mOpen.back().mName + " element is longer than " +
                   std::to_string(kMaxElementText >> 10) + " KiB");
        }
        CountText(lLength);
        lText.append(reinterpret_cast<const char *>(aText) + lStart, lLength);
    }

    /// Refuses a description that declares an entity.
    void Entity(const xmlChar *aName, long aLine)
    {
        mLineNow = aLine;
        Refuse("the description declares the entity '" + Text(aName) + "'; a GenICam description declares none");
    }

    /// Refuses the description for what its current line holds.
    [[noreturn]] void Refuse(const std::string &aWhy) const
    {
        throw LimitError("line " + std::to_string(mLineNow) + ": " + aWhy);
    }

    /// The first fault of the document's root, or an empty text.
    const std::string &GetRootFault() const { return mRootFault; }
    bool SawRoot() const { return mSawRoot; }

private:
    void StartRoot(const std::string &aName, const xmlChar *aNamespace, int aAttributes, const xmlChar **aValues)
    {
        mSawRoot = true;
        if (aName != "RegisterDescription")
        {
            mRootFault = "the root element is '" + aName + "', not RegisterDescription";
        }
        else if (aNamespace != nullptr &&
                 strstr(reinterpret_cast<const char *>(aNamespace), "genicam.org/GenApi") == nullptr)
        {
            mRootFault =
                "the root element lies in the namespace '" + Text(aNamespace) + "', not in the GenApi schema's";
        }
        for (int lIndex = 0; lIndex < aAttributes; ++lIndex)
        {
            const xmlChar **lAttribute = aValues + 5 * lIndex;
            mMap.SetAttribute(Text(lAttribute[0]), std::string(reinterpret_cast<const char *>(lAttribute[3]),
                                                               static_cast<size_t>(lAttribute[4] - lAttribute[3])));
        }
    }

    // Creates the node an element names; a warning and null for one without
    // a name or with a name in use.
    INode *Create(const std::string &aKind, const Element &aElement)
    {
        const std::string *lName = aElement.GetAttribute("Name");
        if (lName == nullptr || lName->empty())
        {
            mMap.AddWarning("line " + std::to_string(mLine) + ": a " + aElement.mName + " without a Name is left out");
            return nullptr;
        }
        if (mMap.GetNode(*lName) != nullptr)
        {
            mMap.AddWarning("line " + std::to_string(mLine) + ": the node '" + *lName +
                            "' is defined again; the later definition is left out");
            return nullptr;
        }
        INode *lNode = mMap.CreateNode(aKind, *lName);
        for (const auto &lAttribute : aElement.mAttributes)
        {
            if (lAttribute.first != "Name")
            {
                lNode->DefineAttribute(lAttribute.first, lAttribute.second);
            }
        }
        return lNode;
    }

    void LoadNode(Element aElement)
    {
        INode *lNode = Create(aElement.mName, aElement);
        if (lNode == nullptr)
        {
            return;
        }
        lNode->ReserveDefinition(aElement.mChildren.size());
        for (Element &lChild : aElement.mChildren)
        {
            lNode->Define(std::move(lChild));
        }
    }

    // A StructReg's entries become MaskedIntReg nodes that share the
    // register's elements; an entry's own elements come after them and win.
    void LoadStruct(Element aElement)
    {
        std::vector<std::shared_ptr<const Element>> lShared;
        size_t lEntries = 0;
        size_t lCopied = 0; // what each entry copies of the shared elements
        for (Element &lChild : aElement.mChildren)
        {
            if (lChild.Is("StructEntry"))
            {
                ++lEntries;
            }
            else
            {
                if (!lChild.Is("ToolTip") && !lChild.Is("Description") && !lChild.Is("DisplayName"))
                {
                    lCopied += lChild.mText.size();
                }
                lShared.push_back(std::make_shared<const Element>(std::move(lChild)));
            }
        }
        // Every entry holds each shared element (and copies of what it reads
        // of them): they count once for each.
        if (lEntries > 1)
        {
            CountElements((lEntries - 1) * lShared.size());
            CountText((lEntries - 1) * lCopied);
        }
        for (Element &lEntry : aElement.mChildren)
        {
            if (!lEntry.Is("StructEntry"))
            {
                continue;
            }
            INode *lNode = Create("MaskedIntReg", lEntry);
            if (lNode == nullptr)
            {
                continue;
            }
            for (const std::shared_ptr<const Element> &lChild : lShared)
            {
                lNode->DefineShared(lChild);
            }
            for (Element &lChild : lEntry.mChildren)
            {
                lNode->Define(std::move(lChild));
            }
        }
    }

    void CountElements(size_t aCount)
    {
        mElements += aCount;
        if (mElements > kMaxElements)
        {
            Refuse("the description has more than " + std::to_string(kMaxElements) + " elements and attributes");
        }
    }

    void CountText(size_t aLength)
    {
        mText += aLength;
        if (mText > kMaxText)
        {
            Refuse("the description holds more than " + std::to_string(kMaxText >> 20) + " MiB of text");
        }
    }

    INodeMap &mMap;
    int mDepth = 0;
    // The elements of the node being read, outermost first.
    std::vector<Element> mOpen;
    long mLine = 0;
    long mLineNow = 0; // the line of the last element started
    size_t mStarted = 0; // elements started
    size_t mElements = 0;
    size_t mNodeElements = 0; // of the node being read
    size_t mText = 0;
    tn::InterruptPacer mPacer;
    bool mSawRoot = false;
    std::string mRootFault;
};

// What the SAX callbacks reach through the parser's _private pointer.
struct Session
{
    Loader *mLoader;
    std::exception_ptr *mError;
};

// Runs a SAX callback's work, keeping what it throws for after the parse (an
// exception must not cross libxml2's C frames) and stopping the parser.
template <typename Work> void Guarded(void *aContext, Work aWork)
{
    const xmlParserCtxtPtr lParser = static_cast<xmlParserCtxtPtr>(aContext);
    Session &lSession = *static_cast<Session *>(lParser->_private);
    if (*lSession.mError)
    {
        return;
    }
    try
    {
        aWork(*lSession.mLoader, lParser);
    }
    catch (...)
    {
        *lSession.mError = std::current_exception();
        xmlStopParser(lParser);
    }
}

// Finds start tags with more than kMaxAttributes attributes (quoted values
// counted) ahead of the parser, as it reads: libxml2 checks a start tag's
// attributes for duplicates pair by pair, so such a tag is refused before
// the parser sees it. Comments, CDATA sections, processing instructions and
// declarations are passed over.
class TagScanner
{
public:
    explicit TagScanner(const std::string &aXml) : mAt(aXml.data()), mEnd(aXml.data() + aXml.size()) {}

    /// Scans every construct that begins before aUntil; the line of the
    /// first crowded tag, or 0.
    long ScanTo(const char *aUntil)
    {
        while (mAt < aUntil && mAt < mEnd)
        {
            const char *lOpen = static_cast<const char *>(memchr(mAt, '<', static_cast<size_t>(mEnd - mAt)));
            if (lOpen == nullptr)
            {
                mAt = mEnd;
                break;
            }
            mLine += std::count(mAt, lOpen, '\n');
            mAt = lOpen + 1;
            const size_t lLeft = static_cast<size_t>(mEnd - mAt);
            if (lLeft >= 3 && memcmp(mAt, "!--", 3) == 0)
            {
                SkipPast("-->");
            }
            else if (lLeft >= 8 && memcmp(mAt, "![CDATA[", 8) == 0)
            {
                SkipPast("]]>");
            }
            else if (lLeft >= 1 && *mAt == '?')
            {
                SkipPast("?>");
            }
            else if (const long lLine = ScanTag())
            {
                return lLine;
            }
        }
        return 0;
    }

private:
    void SkipPast(const char *aMark)
    {
        const size_t lLength = strlen(aMark);
        const void *lFound = memmem(mAt, static_cast<size_t>(mEnd - mAt), aMark, lLength);
        const char *lStop = lFound != nullptr ? static_cast<const char *>(lFound) + lLength : mEnd;
        mLine += std::count(mAt, lStop, '\n');
        mAt = lStop;
    }

    // A start tag, an end tag or a declaration: to its '>' outside quotes.
    // Its line when it has too many quoted values, else 0.
    long ScanTag()
    {
        const long lTagLine = mLine;
        size_t lValues = 0;
        while (mAt < mEnd && *mAt != '>')
        {
            if (*mAt == '"' || *mAt == '\'')
            {
                const char lQuote = *mAt++;
                ++lValues;
                for (; mAt < mEnd && *mAt != lQuote; ++mAt)
                {
                    mLine += *mAt == '\n';
                }
            }
            else
            {
                mLine += *mAt == '\n';
            }
            if (mAt < mEnd)
            {
                ++mAt;
            }
        }
        return lValues > kMaxAttributes ? lTagLine : 0;
    }

    const char *mAt;
    const char *const mEnd;
    long mLine = 1;
};

// libxml2 reads the description from memory through this, a slice at a time
// (its own copy of the input stays small). Before a slice goes to the parser
// the scanner has seen it; between slices the reader asks whether to stop,
// also where the parser calls no handler (comments, white space).
struct Input
{
    explicit Input(const std::string &aXml) : mAt(aXml.data()), mLeft(aXml.size()), mScanner(aXml) {}

    static int Read(void *aContext, char *aBuffer, int aLength)
    {
        Input &lInput = *static_cast<Input *>(aContext);
        if (lInput.mPacer.Stop())
        {
            lInput.mInterrupted = true;
            return -1;
        }
        const size_t lCount = std::min(lInput.mLeft, static_cast<size_t>(aLength > 0 ? aLength : 0));
        lInput.mCrowdedLine = lInput.mScanner.ScanTo(lInput.mAt + lCount);
        if (lInput.mCrowdedLine != 0)
        {
            return -1;
        }
        memcpy(aBuffer, lInput.mAt, lCount);
        lInput.mAt += lCount;
        lInput.mLeft -= lCount;
        return static_cast<int>(lCount);
    }

    const char *mAt;
    size_t mLeft;
    TagScanner mScanner;
    tn::InterruptPacer mPacer;
    bool mInterrupted = false;
    long mCrowdedLine = 0;
};

struct ContextDeleter
{
    void operator()(xmlParserCtxt *aContext) const
    {
        if (aContext->myDoc != nullptr)
        {
            xmlFreeDoc(aContext->myDoc);
        }
        xmlFreeParserCtxt(aContext);
    }
};

} // namespace

std::unique_ptr<INodeMap> LoadXml(const std::string &aXml)
{
    static std::once_flag sOnce;
    std::call_once(sOnce, [] { xmlInitParser(); });

    if (aXml.size() > static_cast<size_t>(INT32_MAX))
    {
        FailDefinition("the description is too large");
    }
    if (aXml.find_first_not_of(std::string(" \t\r\n\0", 5)) == std::string::npos)
    {
        FailDefinition(aXml.empty() ? "the description is empty" : "the description holds no XML, only " +
                                                                       std::to_string(aXml.size()) +
                                                                       " bytes of white space or NUL");
    }
    std::unique_ptr<INodeMap> lMap(new INodeMap);
    Loader lLoader(*lMap);
    std::exception_ptr lError;

    Session lSession{&lLoader, &lError};

    xmlSAXHandler lHandler;
    memset(&lHandler, 0, sizeof(lHandler));
    lHandler.initialized = XML_SAX2_MAGIC;
    lHandler.startElementNs = [](void *aContext, const xmlChar *aName, const xmlChar *, const xmlChar *aNamespace, int,
                                 const xmlChar **, int aAttributes, int, const xmlChar **aValues) {
        Guarded(aContext, [&](Loader &aLoader, xmlParserCtxtPtr aParser) {
            aLoader.Start(aName, aNamespace, aAttributes, aValues,
                          aParser->input != nullptr ? aParser->input->line : 0);
        });
    };
    lHandler.endElementNs = [](void *aContext, const xmlChar *, const xmlChar *, const xmlChar *) {
        Guarded(aContext, [](Loader &aLoader, xmlParserCtxtPtr) { aLoader.End(); });
    };
    lHandler.characters = [](void *aContext, const xmlChar *aText, int aLength) {
        Guarded(aContext, [&](Loader &aLoader, xmlParserCtxtPtr) { aLoader.Characters(aText, aLength); });
    };
    lHandler.cdataBlock = lHandler.characters;
    lHandler.entityDecl = [](void *aContext, const xmlChar *aName, int, const xmlChar *, const xmlChar *, xmlChar *) {
        Guarded(aContext, [&](Loader &aLoader, xmlParserCtxtPtr aParser) {
            aLoader.Entity(aName, aParser->input != nullptr ? aParser->input->line : 0);
        });
    };
    lHandler.unparsedEntityDecl = [](void *aContext, const xmlChar *aName, const xmlChar *, const xmlChar *,
                                     const xmlChar *) {
        Guarded(aContext, [&](Loader &aLoader, xmlParserCtxtPtr aParser) {
            aLoader.Entity(aName, aParser->input != nullptr ? aParser->input->line : 0);
        });
    };

    Input lInput(aXml);
    std::unique_ptr<xmlParserCtxt, ContextDeleter> lContext(
        xmlCreateIOParserCtxt(nullptr, nullptr, &Input::Read, nullptr, &lInput, XML_CHAR_ENCODING_NONE));
    if (!lContext)
    {
        throw GenApiError(TN_NOT_ENOUGH_MEMORY, "no memory for the XML parser");
    }
    // The handler replaces the tree builder: no document is built. No network
    // access, no external entities, no DTD loading.
    xmlSAXHandlerPtr lDefault = lContext->sax;
    lContext->sax = &lHandler;
    lContext->_private = &lSession;
    xmlCtxtUseOptions(lContext.get(), XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    xmlParseDocument(lContext.get());
    lContext->sax = lDefault;
    if (lError)
    {
        std::rethrow_exception(lError);
    }
    if (lInput.mInterrupted)
    {
        throw GenApiError(TN_ABORTED, "the description's loading was interrupted");
    }
    if (lInput.mCrowdedLine != 0)
    {
        FailDefinition("line " + std::to_string(lInput.mCrowdedLine) + ": an element has more than " +
                       std::to_string(kMaxAttributes) + " attributes");
    }
    if (!lContext->wellFormed)
    {
        const xmlError *lXmlError = &lContext->lastError;
        const std::string lMessage =
            lXmlError->message != nullptr ? tn::genicam::Trim(lXmlError->message) : "not well-formed";
        FailDefinition("the description is no well-formed XML (line " + std::to_string(lXmlError->line) +
                       "): " + lMessage);
    }
    if (!lLoader.SawRoot())
    {
        FailDefinition("the root element is missing, not RegisterDescription");
    }
    if (!lLoader.GetRootFault().empty())
    {
        FailDefinition(lLoader.GetRootFault());
    }
    lMap->Finalize();
    return lMap;
}

} // namespace TN_GENAPI_NS
