// CXmlDoc: a small XML property document: a tree of CXmlElement nodes with
// typed values, a cursor under which new elements are added, and one text
// channel shared by the writer (GetXml) and the reader (LoadXml).
//
// Building: construct with a root name, AddSection (cursor moves into the
// new section), AddValue (cursor stays), CloseSection (cursor moves up),
// GetXml. Every operation returns false on failure and leaves the tree as
// it was; nothing throws and nothing is shown.
//
// Reading: LoadXml (or the constructor from a source) replaces the tree;
// the loaded tree is walked with GetRoot, FindElement and the element's
// FindChild / GetFirstChild / GetNextSibling / GetValue. Documents nested
// deeper than XML_MAX_DEPTH levels fail to load.
//
// Text: element names are narrow bytes; values and the channel's text are
// UTF-8; GetXml hands out UTF-16 (a BSTR that the caller frees with
// SysFreeString). File names given to the channel are UTF-8 and opened
// with the wide file functions.
//
// Ownership and threads: the document owns its tree. It holds a 4096-byte
// I/O buffer and a 1024-byte token buffer inside itself (a little over
// 5 KB), is used by one thread and has no locks. Not copyable.
#pragma once

#include "framework/UniqueHandle.h"
#include "xmldoc/XmlElement.h"
#include "xmldoc/XmlValue.h"

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>

// Load modes of LoadXml.
enum {
    LOAD_NEW = 0,  // the source is the name of a new, empty root
    LOAD_FILE = 1, // the source is a file name (UTF-8); also any unknown mode
    LOAD_TEXT = 2, // the source is the XML text itself (UTF-8)
};

// Token kinds of NextToken.
enum {
    TOKEN_END = 0,   // end of input, or an error
    TOKEN_OPEN = 1,  // start tag: name and attributes
    TOKEN_TEXT = 2,  // character data up to the next "<"
    TOKEN_CLOSE = 3, // end tag
    TOKEN_EMPTY = 4, // empty-element tag, without the final "/"
};

const int XML_BUFFER_SIZE = 4096;
const int XML_TOKEN_SIZE = 1024;
const int XML_MAX_DEPTH = 256;

class CXmlDoc {
public:
    // With a root name: a document with that root and the cursor on it.
    // With null (or no memory): an empty document on which every building
    // operation fails.
    explicit CXmlDoc(const char* pszRootName = nullptr);
    // Loads from the source (LoadXml); empty when loading fails.
    CXmlDoc(const char* pszSource, int nMode);
    CXmlDoc(const CXmlDoc&) = delete;
    CXmlDoc& operator=(const CXmlDoc&) = delete;

    // Virtual operations, in this order.
    virtual ~CXmlDoc();
    // Reads a second document (file when bIsFile, else text) and appends its
    // root as the last child of the cursor; the cursor stays.
    virtual bool AppendXml(const char* pszSource, int bIsFile);
    // The same, and the cursor moves to the appended element.
    virtual bool AppendXmlSection(const char* pszSource, int bIsFile);
    // Name converted to the thread's ANSI code page.
    virtual bool AddSection(const wchar_t* pszName);
    virtual bool AddSection(const char* pszName);
    // Replaces the whole document (modes above).
    virtual bool LoadXml(const char* pszSource, int nMode);
    // Adds an element holding a deep copy of the value under the cursor.
    virtual bool AddValue(const char* pszName, const CXmlValue& value);

    bool AddValue(const char* pszName, int32_t nValue); // XML_I4
    bool AddValue(const char* pszName, bool bValue);    // XML_BOOL
    // XML_STRING, stored as UTF-8; null gives a string without text.
    bool AddValue(const char* pszName, const wchar_t* pszValue);
    // A narrow literal would silently become a bool: say which string it is.
    bool AddValue(const char* pszName, const char* pszValue) = delete;

    // Moves the cursor to its parent; false at the root.
    bool CloseSection();

    // Serialises the whole tree into a new BSTR. *pbstr must be null; on
    // success it receives the text, on failure it stays null.
    bool GetXml(BSTR* pbstr);

    // Loads UTF-16 text (for instance a BSTR), converted to UTF-8 first.
    bool LoadXmlText(const wchar_t* pszText);

    // Read-only walk.
    CXmlElement* GetRoot() const { return m_pRoot; }
    CXmlElement* GetCurrent() const { return m_pCurrent; }
    // Follows a path of child names separated by "/" from the root, the
    // first child of each name: "IP-Settings/Port". Null when any step is
    // missing or the document is empty. An empty path gives the root.
    CXmlElement* FindElement(const char* pszPath) const;

    // Output channel (used by elements and values while writing).
    bool OpenOutput(const char* pszFileUtf8);
    bool Put(const char* psz);
    bool PutBytes(const char* pch, ptrdiff_t cb);
    bool Flush();
    bool FinishOutput(BSTR* pbstr);

    // Input channel (used by elements while reading).
    bool OpenInput(const char* pszSource, int bIsFile);
    bool Refill();
    void CloseInput();
    int ReadChar(bool bSkip);
    int ReadEntity();
    // *ppszText points into the token buffer until the next call.
    int NextToken(const char** ppszText);

    // Nesting guard of the reader: false when one more level would pass
    // XML_MAX_DEPTH.
    bool EnterLevel();
    void LeaveLevel();

private:
    void Reset();
    // Takes a freshly parsed root (null when it could not be made) as the
    // document's, when it has a name; otherwise frees it. True when taken.
    bool AdoptRoot(CXmlElement* pRoot);
    // Ends the output; with bFlush pending bytes are written first,
    // otherwise they are discarded. The accumulated BSTR is freed.
    void CloseOutput(bool bFlush);
    bool ReadNextByte(int* pnByte);
    void PushBack(int nByte);

    CXmlElement* m_pRoot = nullptr;
    CXmlElement* m_pCurrent = nullptr;

    // Channel.
    const char* m_pszInput = nullptr;
    ptrdiff_t m_nInputPos = -1;
    ptrdiff_t m_nInputLength = 0;
    UniqueFile m_file; // the channel's file; empty for text
    char m_Buffer[XML_BUFFER_SIZE + 1];
    bool m_bPendingTag = false;
    int m_nCount = 0;     // bytes in the buffer (valid input or pending output)
    int m_nPosition = -1; // input: read position; output: free space; -1 closed
    BSTR m_bstrOutput = nullptr;
    char m_Token[XML_TOKEN_SIZE];

    enum { CHANNEL_CLOSED, CHANNEL_INPUT, CHANNEL_OUTPUT };
    int m_nChannel = CHANNEL_CLOSED;
    // Bytes an entity look-ahead returned to the input, next one last.
    char m_PushBack[8];
    int m_nPushBack = 0;
    int m_nDepth = 0;
};
