#pragma once

namespace zp {

// The transitional Office Open XML namespaces of the parts the engine writes.
namespace OoxmlNamespaces {

inline constexpr const char* Main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
// Of r:id attributes, and the prefix of relationship types.
inline constexpr const char* Relationships
    = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
// Of a package's .rels parts.
inline constexpr const char* PackageRelationships
    = "http://schemas.openxmlformats.org/package/2006/relationships";

} // namespace OoxmlNamespaces
} // namespace zp
