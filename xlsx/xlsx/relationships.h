#pragma once

// The relationships parts of a package, and the part names they lead to.

#include "xml/xmlreader.h"

#include <QString>

#include <string>
#include <vector>

namespace QXlsx {
namespace detail {

// The namespaces a relationship id attribute may be in (transitional, strict).
extern const char *const RelationshipNamespaces[];
constexpr int RelationshipNamespaceCount = 2;

struct Relationship
{
    QString id;
    std::string type;
    QString target;
    bool external = false;
};

using Relationships = std::vector<Relationship>;

bool hasType(const Relationship &rel, const char *kind);
bool parseRelationships(XmlReader &x, Relationships *rels);

// The zip entry name of a relationship target seen from part source ("" for the package).
QString resolveTarget(const QString &source, const QString &target);

// The name of the relationships part that belongs to part.
QString relationshipsPart(const QString &part);

// The first internal relationship of that kind, or null.
const Relationship *findRelationship(const Relationships &rels, const char *kind);

} // namespace detail
} // namespace QXlsx
