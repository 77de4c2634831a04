#include "framework/PtrArray.h"

#include "framework/Exceptions.h"

#include <new>

void* CPtrArray::GetAt(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetSize())
        AfxThrowInvalidArgException();
    return m_data[static_cast<size_t>(nIndex)];
}

void CPtrArray::SetAt(int nIndex, void* p) {
    if (nIndex < 0 || nIndex >= GetSize())
        AfxThrowInvalidArgException();
    m_data[static_cast<size_t>(nIndex)] = p;
}

int CPtrArray::Add(void* p) {
    InsertAt(GetSize(), p);
    return GetSize() - 1;
}

void CPtrArray::InsertAt(int nIndex, void* p) {
    if (nIndex < 0 || nIndex > GetSize())
        AfxThrowInvalidArgException();
    try {
        m_data.insert(m_data.begin() + nIndex, p);
    } catch (const std::bad_alloc&) {
        AfxThrowMemoryException();
    }
}

void CPtrArray::RemoveAt(int nIndex, int nCount) {
    if (nIndex < 0 || nCount < 0 || nIndex + nCount > GetSize())
        AfxThrowInvalidArgException();
    m_data.erase(m_data.begin() + nIndex, m_data.begin() + nIndex + nCount);
}
