// CXmlValue: the typed value every element of an XML property document
// carries: empty, a boolean, one of five integer kinds, a double or a
// string. Strings are UTF-8 and owned by the value (array new/delete); a
// string value may hold no text at all, which is not the same as empty.
// A value is used by one thread at a time; it has no locks.
#pragma once

#include <cstddef>
#include <cstdint>

// Type codes, as stored in the element tree.
enum {
    XML_EMPTY = 0,
    XML_BOOL = 1,
    XML_I4 = 2,
    XML_I8 = 3,
    XML_U1 = 4,
    XML_U2 = 5,
    XML_U4 = 6,
    XML_DOUBLE = 7,
    XML_STRING = 8,
};

class CXmlDoc;

class CXmlValue {
public:
    CXmlValue();
    virtual ~CXmlValue();
    // Copies are deep (CopyTo).
    CXmlValue(const CXmlValue& other);
    CXmlValue& operator=(const CXmlValue& other);

    // Every setter frees an owned string first, then sets type and payload.
    void SetBool(bool bValue);
    void SetInt32(int32_t nValue);
    void SetInt64(int64_t nValue);
    void SetUInt8(uint8_t nValue);
    void SetUInt16(uint16_t nValue);
    void SetUInt32(uint32_t nValue);
    void SetDouble(double dValue);
    // Narrow text is taken as UTF-8 and copied byte for byte. Null (or no
    // memory) gives a string value without text.
    void SetString(const char* pszUtf8);
    // Wide text is converted to UTF-8. Null gives a string value without text.
    void SetString(const wchar_t* pszText);
    void Clear();
    // Gives the target the same type and payload (strings copied); a source
    // that is empty clears the target.
    void CopyTo(CXmlValue& target) const;

    // Sets the value from its text form for a type code 1 to 8 (atoi-style:
    // leading blanks skipped, conversion stops at the first unfit
    // character). False, value unchanged, for null text or another code.
    bool ParseText(const char* pszText, int nType);

    // Writes the text form into the document's output channel (strings
    // escaped). False for an empty value or a failed write; true for a
    // string without text.
    bool WriteText(CXmlDoc* pDoc) const;

    // The text of a number or boolean into pszBuffer (at least 64 bytes).
    // False for empty and string values, or when a double cannot be
    // converted.
    bool FormatNumber(char* pszBuffer, size_t cbBuffer) const;

    // Read access. Each typed getter returns the payload when the type code
    // matches, else 0 (GetString: null).
    int GetType() const { return m_nType; }
    bool IsEmpty() const { return m_nType == XML_EMPTY; }
    bool GetBool() const;
    int32_t GetInt32() const;
    int64_t GetInt64() const;
    uint8_t GetUInt8() const;
    uint16_t GetUInt16() const;
    uint32_t GetUInt32() const;
    double GetDouble() const;
    // UTF-8 text of a string value; null for other types and for a string
    // without text.
    const char* GetString() const;
    // Any boolean or integer kind as a signed 64-bit number (XML_U4 zero-
    // extended). False, *pnValue untouched, for other types.
    bool GetInteger(int64_t* pnValue) const;

private:
    void FreeString();
    // Drops the old value: no text, the given type, a zeroed payload.
    void Become(int32_t nType);

    int32_t m_nType;
    union {
        void* pNone;
        bool b;
        int32_t i4;
        int64_t i8;
        uint8_t u1;
        uint16_t u2;
        uint32_t u4;
        double d;
        char* psz;
        uint64_t raw;
    } m_Payload;
};
