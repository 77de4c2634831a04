// CPtrArray: a growable array of untyped pointers. It owns the slots, not
// what they point to. Not thread-safe. An index out of range raises the
// invalid-argument exception; a failed allocation the out-of-memory one.
#pragma once

#include <vector>

class CPtrArray {
public:
    int GetSize() const { return static_cast<int>(m_data.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_data.empty(); }

    void* GetAt(int nIndex) const;
    void SetAt(int nIndex, void* p);
    int Add(void* p);
    // nIndex may be GetSize(), which appends.
    void InsertAt(int nIndex, void* p);
    void RemoveAt(int nIndex, int nCount = 1);
    void RemoveAll() { m_data.clear(); }

private:
    std::vector<void*> m_data;
};
