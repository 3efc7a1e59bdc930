#include "shell/AppcastFeed.h"

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/Node.h>
#include <Poco/Exception.h>
#include <Poco/SAX/SAXException.h>
#include <Poco/String.h>

namespace ferrovan {

namespace {

using Poco::XML::Element;

// The first child element of `parent` with that local name and namespace ("" for none).
Element* child(const Element& parent, const std::string& ns, const std::string& localName)
{
    for (Poco::XML::Node* node = parent.firstChild(); node != nullptr; node = node->nextSibling()) {
        if (node->nodeType() != Poco::XML::Node::ELEMENT_NODE)
            continue;
        auto* element = static_cast<Element*>(node);
        if (element->localName() == localName && element->namespaceURI() == ns)
            return element;
    }
    return nullptr;
}

std::string childText(const Element& parent, const std::string& ns, const std::string& localName)
{
    const Element* element = child(parent, ns, localName);
    return element == nullptr ? std::string() : Poco::trim(element->innerText());
}

// The enclosure's attribute first, the item's element otherwise: feeds use either form.
std::string versionField(const Element& item, const Element* enclosure, const std::string& localName)
{
    if (enclosure != nullptr && enclosure->hasAttributeNS(AppcastFeed::kNamespace, localName))
        return Poco::trim(enclosure->getAttributeNS(AppcastFeed::kNamespace, localName));
    return childText(item, AppcastFeed::kNamespace, localName);
}

AppcastItem readItem(const Element& item)
{
    const Element* enclosure = child(item, "", "enclosure");
    AppcastItem result;
    result.version = versionField(item, enclosure, "version");
    result.shortVersion = versionField(item, enclosure, "shortVersionString");
    result.releaseNotesLink = childText(item, AppcastFeed::kNamespace, "releaseNotesLink");
    if (enclosure != nullptr)
        result.enclosureUrl = Poco::trim(enclosure->getAttribute("url"));
    return result;
}

} // namespace

AppcastFeed AppcastFeed::parse(const std::string& xml)
{
    Poco::AutoPtr<Poco::XML::Document> document;
    try {
        Poco::XML::DOMParser parser;
        document = parser.parseString(xml);
    } catch (const Poco::Exception& e) {
        throw MalformedAppcast("the update feed is not well-formed XML: " + e.displayText());
    }
    const Element* root = document->documentElement();
    const Element* channel = root != nullptr && root->localName() == "rss" ? child(*root, "", "channel") : nullptr;
    if (channel == nullptr)
        throw MalformedAppcast("the update feed is not an RSS channel");

    AppcastFeed feed;
    for (Poco::XML::Node* node = channel->firstChild(); node != nullptr; node = node->nextSibling()) {
        if (node->nodeType() == Poco::XML::Node::ELEMENT_NODE && node->localName() == "item" &&
            node->namespaceURI().empty())
            feed.m_items.push_back(readItem(*static_cast<Element*>(node)));
    }
    return feed;
}

std::optional<AppcastRelease> AppcastFeed::newest() const
{
    std::optional<AppcastRelease> best;
    for (const AppcastItem& item : m_items) {
        const std::optional<VersionNumber> version = VersionNumber::parse(item.version);
        if (version && (!best || best->version < *version))
            best = AppcastRelease{item, *version};
    }
    return best;
}

} // namespace ferrovan
