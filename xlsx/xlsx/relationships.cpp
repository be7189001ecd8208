#include "xlsx/relationships.h"

#include <QStringList>

#include <string_view>

namespace QXlsx {
namespace detail {

const char *const RelationshipNamespaces[] = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships",
};

using Token = XmlReader::Token;

bool hasType(const Relationship &rel, const char *kind)
{
    const std::string_view type = rel.type;
    for (const char *base : RelationshipNamespaces) {
        const std::string_view prefix = base;
        if (type.size() > prefix.size() && type.substr(0, prefix.size()) == prefix && type[prefix.size()] == '/'
            && type.substr(prefix.size() + 1) == kind)
            return true;
    }
    return false;
}

bool parseRelationships(XmlReader &x, Relationships *rels)
{
    std::string mode;
    for (;;) {
        const Token t = x.nextStart();
        if (t != Token::StartElement)
            return t == Token::EndDocument;
        if (x.depth() == 1 && !x.nameIs("Relationships"))
            return false;
        if (x.depth() == 2 && x.nameIs("Relationship")) {
            Relationship rel;
            x.attribute("Id", &rel.id);
            x.attribute("Type", &rel.type);
            x.attribute("Target", &rel.target);
            rel.external = x.attribute("TargetMode", &mode) && mode == "External";
            rels->push_back(std::move(rel));
        }
    }
}

QString resolveTarget(const QString &source, const QString &target)
{
    QString path;
    if (target.startsWith(QLatin1Char('/')))
        path = target.mid(1);
    else
        path = source.left(source.lastIndexOf(QLatin1Char('/')) + 1) + target;

    QStringList parts;
    for (const QString &segment : path.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (parts.isEmpty())
                return QString();
            parts.removeLast();
            continue;
        }
        parts.append(segment);
    }
    return parts.join(QLatin1Char('/'));
}

QString relationshipsPart(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QLatin1String("_rels/") + part.mid(slash + 1) + QLatin1String(".rels");
}

const Relationship *findRelationship(const Relationships &rels, const char *kind)
{
    for (const Relationship &rel : rels) {
        if (!rel.external && hasType(rel, kind))
            return &rel;
    }
    return nullptr;
}

} // namespace detail
} // namespace QXlsx
