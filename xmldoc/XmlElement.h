// CXmlElement: one node of an XML property document: a name (narrow bytes,
// owned), a typed value and links to its parent, siblings and children.
// An element owns its name, its value and all its children; deleting it
// deletes the whole subtree. An element without a name failed to
// initialise and is never kept in a tree. Used by one thread at a time.
#pragma once

#include "xmldoc/XmlValue.h"

#include <cstddef>

class CXmlDoc;

class CXmlElement {
public:
    // Takes name and type from the tag text (the name ends at the first
    // blank); reads the content from pDoc's input when pDoc is given; links
    // itself as the last child of pParent when given. On failure the
    // element is left cleared, without a name: the creator deletes it.
    CXmlElement(const char* pszTag, CXmlElement* pParent, CXmlDoc* pDoc);
    CXmlElement(const CXmlElement&) = delete;
    CXmlElement& operator=(const CXmlElement&) = delete;

    // Virtual operations, in this order.
    virtual ~CXmlElement();
    // Typed form: a type attribute on elements without children.
    virtual bool WriteXml(CXmlDoc* pDoc) const;
    // Plain form: no attributes at all.
    virtual bool WriteXmlPlain(CXmlDoc* pDoc) const;
    // True when this element and all its descendants have names.
    virtual bool IsValid() const;
    // Frees the name, resets the links and deletes every child. Does not
    // unlink the element from its parent: only for elements being dropped.
    virtual void Clear();
    virtual bool InitFromTag(const char* pszTag, CXmlElement* pParent, CXmlDoc* pDoc);
    // Type code from the type attribute (XML_STRING without one) and the
    // length of the name. False only for null arguments.
    virtual bool ParseTag(const char* pszTag, int* pnType, size_t* pcchName) const;

    // Links pChild as the last child. False, nothing linked, when pChild is
    // null or already linked somewhere.
    bool AppendChild(CXmlElement* pChild);
    // Deep copy of the value into this element. False without a name.
    bool SetValue(const CXmlValue& value);

    // Read-only walk of the tree.
    const char* GetName() const { return m_pszName; }
    const CXmlValue& GetValue() const { return m_Value; }
    CXmlElement* GetParent() const { return m_pParent; }
    CXmlElement* GetFirstChild() const { return m_pFirstChild; }
    CXmlElement* GetLastChild() const { return m_pLastChild; }
    CXmlElement* GetNextSibling() const { return m_pNext; }
    CXmlElement* GetPrevSibling() const { return m_pPrev; }
    bool HasChildren() const { return m_pFirstChild != nullptr; }
    // The first child whose name equals pszName exactly (byte for byte),
    // or null.
    CXmlElement* FindChild(const char* pszName) const;

private:
    char* m_pszName = nullptr;
    CXmlValue m_Value;
    CXmlElement* m_pParent = nullptr;
    CXmlElement* m_pNext = nullptr;
    CXmlElement* m_pPrev = nullptr;
    CXmlElement* m_pFirstChild = nullptr;
    CXmlElement* m_pLastChild = nullptr;
};
