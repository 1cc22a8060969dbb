// Building a node map from GenICam XML with libxml2.
#include <string.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <mutex>

#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
const char *const kNodeKinds[] = {"Node",         "Category",     "Integer",       "IntReg",       "MaskedIntReg",
                                  "Float",        "FloatReg",     "Enumeration",   "Boolean",      "Command",
                                  "String",       "StringReg",    "Register",      "IntSwissKnife", "SwissKnife",
                                  "Converter",    "IntConverter", "Port",          "ConfRom",      "TextDesc",
                                  "IntKey",       "AdvFeatureLock", "SmartFeature", "DcamLock"};

bool IsOneOf(const std::string &aName, const char *const *aBegin, const char *const *aEnd)
{
    for (const char *const *lName = aBegin; lName != aEnd; ++lName)
    {
        if (aName == *lName)
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

Element ToElement(xmlNodePtr aNode)
{
    Element lElement;
    lElement.mName = Text(aNode->name);
    for (xmlAttrPtr lAttribute = aNode->properties; lAttribute != nullptr; lAttribute = lAttribute->next)
    {
        xmlChar *lValue = xmlNodeListGetString(aNode->doc, lAttribute->children, 1);
        lElement.mAttributes.emplace_back(Text(lAttribute->name), Text(lValue));
        xmlFree(lValue);
    }
    std::string lText;
    for (xmlNodePtr lChild = aNode->children; lChild != nullptr; lChild = lChild->next)
    {
        if (lChild->type == XML_ELEMENT_NODE)
        {
            lElement.mChildren.push_back(ToElement(lChild));
        }
        else if (lChild->type == XML_TEXT_NODE || lChild->type == XML_CDATA_SECTION_NODE)
        {
            lText += Text(lChild->content);
        }
    }
    lElement.mText = tn::genicam::Trim(lText);
    return lElement;
}

class Loader
{
public:
    explicit Loader(INodeMap &aMap) : mMap(aMap) {}

    void LoadChildren(xmlNodePtr aParent)
    {
        for (xmlNodePtr lChild = aParent->children; lChild != nullptr; lChild = lChild->next)
        {
            if (lChild->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            const std::string lKind = Text(lChild->name);
            if (lKind == "Group")
            {
                LoadChildren(lChild);
            }
            else if (lKind == "StructReg")
            {
                LoadStruct(ToElement(lChild), lChild->line);
            }
            else if (IsOneOf(lKind, std::begin(kNodeKinds), std::end(kNodeKinds)))
            {
                LoadNode(ToElement(lChild), lChild->line);
            }
        }
    }

private:
    // Creates the node an element names; a warning and null for one without
    // a name or with a name in use.
    INode *Create(const std::string &aKind, const Element &aElement, long aLine)
    {
        const std::string *lName = aElement.GetAttribute("Name");
        if (lName == nullptr || lName->empty())
        {
            mMap.AddWarning("line " + std::to_string(aLine) + ": a " + aElement.mName + " without a Name is left out");
            return nullptr;
        }
        if (mMap.GetNode(*lName) != nullptr)
        {
            mMap.AddWarning("line " + std::to_string(aLine) + ": the node '" + *lName +
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

    void LoadNode(Element aElement, long aLine)
    {
        INode *lNode = Create(aElement.mName, aElement, aLine);
        if (lNode == nullptr)
        {
            return;
        }
        for (Element &lChild : aElement.mChildren)
        {
            lNode->Define(std::move(lChild));
        }
    }

    // A StructReg's entries become MaskedIntReg nodes that share the
    // register's elements; an entry's own elements come after them and win.
    void LoadStruct(Element aElement, long aLine)
    {
        std::vector<const Element *> lShared;
        for (const Element &lChild : aElement.mChildren)
        {
            if (lChild.mName != "StructEntry")
            {
                lShared.push_back(&lChild);
            }
        }
        for (Element &lEntry : aElement.mChildren)
        {
            if (lEntry.mName != "StructEntry")
            {
                continue;
            }
            INode *lNode = Create("MaskedIntReg", lEntry, aLine);
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
};

struct DocumentDeleter
{
    void operator()(xmlDoc *aDocument) const { xmlFreeDoc(aDocument); }
};

struct ContextDeleter
{
    void operator()(xmlParserCtxt *aContext) const { xmlFreeParserCtxt(aContext); }
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
    std::unique_ptr<xmlParserCtxt, ContextDeleter> lContext(xmlNewParserCtxt());
    if (!lContext)
    {
        throw GenApiError(TN_NOT_ENOUGH_MEMORY, "no memory for the XML parser");
    }
    // No network access, no external entities, no DTD loading.
    std::unique_ptr<xmlDoc, DocumentDeleter> lDocument(xmlCtxtReadMemory(
        lContext.get(), aXml.data(), static_cast<int>(aXml.size()), "description.xml", nullptr,
        XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR));
    if (!lDocument)
    {
        const xmlError *lError = &lContext->lastError;
        std::string lMessage = lError->message != nullptr ? tn::genicam::Trim(lError->message) : "not well-formed";
        FailDefinition("the description is no well-formed XML (line " + std::to_string(lError->line) + "): " + lMessage);
    }
    xmlNodePtr lRoot = xmlDocGetRootElement(lDocument.get());
    if (lRoot == nullptr || strcmp(reinterpret_cast<const char *>(lRoot->name), "RegisterDescription") != 0)
    {
        FailDefinition(std::string("the root element is ") +
                       (lRoot != nullptr ? "'" + Text(lRoot->name) + "'" : std::string("missing")) +
                       ", not RegisterDescription");
    }
    if (lRoot->ns != nullptr && lRoot->ns->href != nullptr &&
        strstr(reinterpret_cast<const char *>(lRoot->ns->href), "genicam.org/GenApi") == nullptr)
    {
        FailDefinition("the root element lies in the namespace '" + Text(lRoot->ns->href) +
                       "', not in the GenApi schema's");
    }

    std::unique_ptr<INodeMap> lMap(new INodeMap);
    for (xmlAttrPtr lAttribute = lRoot->properties; lAttribute != nullptr; lAttribute = lAttribute->next)
    {
        xmlChar *lValue = xmlNodeListGetString(lRoot->doc, lAttribute->children, 1);
        lMap->SetAttribute(Text(lAttribute->name), Text(lValue));
        xmlFree(lValue);
    }
    Loader lLoader(*lMap);
    lLoader.LoadChildren(lRoot);
    lMap->Finalize();
    return lMap;
}

} // namespace TN_GENAPI_NS
