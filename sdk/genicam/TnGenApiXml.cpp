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
const char *const kNodeKinds[] = {"Node",          "Category",   "Integer",     "IntReg",       "MaskedIntReg",
                                  "Float",         "FloatReg",   "Enumeration", "Boolean",      "Command",
                                  "String",        "StringReg",  "Register",    "IntSwissKnife", "SwissKnife",
                                  "Converter",     "IntConverter", "Port"};

// Kinds of the schema the engine does not model; their nodes are left out,
// and a reference to one fails with a message naming it.
const char *const kUnsupportedKinds[] = {"ConfRom", "TextDesc", "IntKey", "AdvFeatureLock", "SmartFeature", "DcamLock"};

bool IsOneOf(const std::string &aName, const char *const *aBegin, const char *const *aEnd)
{
    for (const char *const *name = aBegin; name != aEnd; ++name)
    {
        if (aName == *name)
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
    Element element;
    element.mName = Text(aNode->name);
    for (xmlAttrPtr attribute = aNode->properties; attribute != nullptr; attribute = attribute->next)
    {
        xmlChar *value = xmlNodeListGetString(aNode->doc, attribute->children, 1);
        element.mAttributes.emplace_back(Text(attribute->name), Text(value));
        xmlFree(value);
    }
    std::string text;
    for (xmlNodePtr child = aNode->children; child != nullptr; child = child->next)
    {
        if (child->type == XML_ELEMENT_NODE)
        {
            element.mChildren.push_back(ToElement(child));
        }
        else if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
        {
            text += Text(child->content);
        }
    }
    element.mText = tn::genicam::Trim(text);
    return element;
}

class Loader
{
public:
    explicit Loader(INodeMap &aMap) : mMap(aMap) {}

    void LoadChildren(xmlNodePtr aParent)
    {
        for (xmlNodePtr child = aParent->children; child != nullptr; child = child->next)
        {
            if (child->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            const std::string kind = Text(child->name);
            if (kind == "Group")
            {
                LoadChildren(child);
            }
            else if (kind == "StructReg")
            {
                LoadStruct(ToElement(child), child->line);
            }
            else if (IsOneOf(kind, std::begin(kNodeKinds), std::end(kNodeKinds)))
            {
                LoadNode(ToElement(child), child->line);
            }
            else if (IsOneOf(kind, std::begin(kUnsupportedKinds), std::end(kUnsupportedKinds)))
            {
                xmlChar *name = xmlGetProp(child, reinterpret_cast<const xmlChar *>("Name"));
                mSkipped.emplace_back(Text(name), kind);
                xmlFree(name);
            }
        }
    }

    const std::vector<std::pair<std::string, std::string>> &GetSkipped() const { return mSkipped; }

private:
    void LoadNode(const Element &aElement, long aLine)
    {
        const std::string *name = aElement.GetAttribute("Name");
        if (name == nullptr || name->empty())
        {
            FailDefinition("line " + std::to_string(aLine) + ": a " + aElement.mName + " element without a Name");
        }
        INode *node = mMap.CreateNode(aElement.mName, *name);
        for (const auto &attribute : aElement.mAttributes)
        {
            if (attribute.first != "Name")
            {
                node->DefineAttribute(attribute.first, attribute.second);
            }
        }
        for (const Element &child : aElement.mChildren)
        {
            node->Define(child);
        }
    }

    // A StructReg's entries become MaskedIntReg nodes that share the
    // register's elements; an entry's own elements come after them and win.
    void LoadStruct(const Element &aElement, long aLine)
    {
        std::vector<const Element *> shared;
        for (const Element &child : aElement.mChildren)
        {
            if (child.mName != "StructEntry")
            {
                shared.push_back(&child);
            }
        }
        for (const Element &entry : aElement.mChildren)
        {
            if (entry.mName != "StructEntry")
            {
                continue;
            }
            const std::string *name = entry.GetAttribute("Name");
            if (name == nullptr || name->empty())
            {
                FailDefinition("line " + std::to_string(aLine) + ": a StructEntry without a Name");
            }
            INode *node = mMap.CreateNode("MaskedIntReg", *name);
            for (const auto &attribute : entry.mAttributes)
            {
                if (attribute.first != "Name")
                {
                    node->DefineAttribute(attribute.first, attribute.second);
                }
            }
            for (const Element *child : shared)
            {
                node->Define(*child);
            }
            for (const Element &child : entry.mChildren)
            {
                node->Define(child);
            }
        }
    }

    INodeMap &mMap;
    std::vector<std::pair<std::string, std::string>> mSkipped;
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
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });

    if (aXml.size() > static_cast<size_t>(INT32_MAX))
    {
        FailDefinition("the description is too large");
    }
    std::unique_ptr<xmlParserCtxt, ContextDeleter> context(xmlNewParserCtxt());
    if (!context)
    {
        throw GenApiError(TN_NOT_ENOUGH_MEMORY, "no memory for the XML parser");
    }
    // No network access, no external entities, no DTD loading.
    std::unique_ptr<xmlDoc, DocumentDeleter> document(xmlCtxtReadMemory(
        context.get(), aXml.data(), static_cast<int>(aXml.size()), "description.xml", nullptr,
        XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR));
    if (!document)
    {
        const xmlError *error = &context->lastError;
        std::string message = error->message != nullptr ? tn::genicam::Trim(error->message) : "not well-formed";
        FailDefinition("the description is no well-formed XML (line " + std::to_string(error->line) + "): " + message);
    }
    xmlNodePtr root = xmlDocGetRootElement(document.get());
    if (root == nullptr || strcmp(reinterpret_cast<const char *>(root->name), "RegisterDescription") != 0)
    {
        FailDefinition(std::string("the root element is ") +
                       (root != nullptr ? "'" + Text(root->name) + "'" : std::string("missing")) +
                       ", not RegisterDescription");
    }
    if (root->ns != nullptr && root->ns->href != nullptr &&
        strstr(reinterpret_cast<const char *>(root->ns->href), "genicam.org/GenApi") == nullptr)
    {
        FailDefinition("the root element lies in the namespace '" + Text(root->ns->href) +
                       "', not in the GenApi schema's");
    }

    std::unique_ptr<INodeMap> map(new INodeMap);
    for (xmlAttrPtr attribute = root->properties; attribute != nullptr; attribute = attribute->next)
    {
        xmlChar *value = xmlNodeListGetString(root->doc, attribute->children, 1);
        map->SetAttribute(Text(attribute->name), Text(value));
        xmlFree(value);
    }
    Loader loader(*map);
    loader.LoadChildren(root);
    try
    {
        map->Finalize();
    }
    catch (const GenApiError &error)
    {
        // Name what a dangling reference points at when the engine left it out.
        std::string message = error.what();
        for (const auto &skipped : loader.GetSkipped())
        {
            if (!skipped.first.empty() && message.find("'" + skipped.first + "'") != std::string::npos)
            {
                message += " (it is a " + skipped.second + " node, which is not supported)";
                break;
            }
        }
        throw GenApiError(error.GetCode(), message);
    }
    return map;
}

} // namespace TN_GENAPI_NS
