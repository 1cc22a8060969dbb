// Building a node map from GenICam XML, read with libxml2's SAX interface:
// each node's element is collected as an Element and handed to the node map
// as soon as it closes, without a document tree.
#include <ctype.h>
#include <string.h>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <memory>
#include <mutex>

#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
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
        mOpen.emplace_back();
        Element &lElement = mOpen.back();
        lElement.mName = lName;
        for (int lIndex = 0; lIndex < aAttributes; ++lIndex)
        {
            // localname, prefix, URI, value, end of value
            const xmlChar **lAttribute = aValues + 5 * lIndex;
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
        lText.append(reinterpret_cast<const char *>(aText) + lStart, static_cast<size_t>(aLength - lStart));
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
        std::vector<const Element *> lShared;
        for (const Element &lChild : aElement.mChildren)
        {
            if (!lChild.Is("StructEntry"))
            {
                lShared.push_back(&lChild);
            }
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
            for (const Element *lChild : lShared)
            {
                lNode->Define(*lChild);
            }
            for (Element &lChild : lEntry.mChildren)
            {
                lNode->Define(std::move(lChild));
            }
        }
    }

    INodeMap &mMap;
    int mDepth = 0;
    // The elements of the node being read, outermost first.
    std::vector<Element> mOpen;
    long mLine = 0;
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

    std::unique_ptr<xmlParserCtxt, ContextDeleter> lContext(
        xmlCreateMemoryParserCtxt(aXml.data(), static_cast<int>(aXml.size())));
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
