// The COM reference owner against a counting stand-in object: every path
// (copy, move, Attach, Detach, Put, self-assignment) leaves the count where
// the references actually held say it should be.
#include "framework/ComPtr.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

class Counted final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refs == 0)
            ++freed;
        return refs;
    }
    ULONG refs = 0;
    int freed = 0; // times the count reached 0 (a real object would be gone)
};

TEST(ComPtr, ReferencesStayBalancedAcrossCopyMoveAndReset) {
    Counted obj;
    {
        CComPtr<Counted> a;
        obj.AddRef();
        a.Attach(&obj);
        EXPECT_EQ(obj.refs, 1u);
        CComPtr<Counted> b(a);
        EXPECT_EQ(obj.refs, 2u);
        CComPtr<Counted> c(std::move(b));
        EXPECT_FALSE(b);
        EXPECT_EQ(obj.refs, 2u);
        c = a;
        EXPECT_EQ(obj.refs, 2u); // the old reference went, a new one came
        a.Reset();
        // The only reference, given to itself: never released on the way.
        CComPtr<Counted>& same = c;
        c = same;
        c = std::move(same);
        EXPECT_EQ(obj.refs, 1u);
        EXPECT_EQ(obj.freed, 0);
        a = c;
        b = std::move(c);
        EXPECT_EQ(obj.refs, 2u);
        b.Reset();
        EXPECT_EQ(obj.refs, 1u);
        b.Reset();
        EXPECT_EQ(obj.refs, 1u);
    }
    EXPECT_EQ(obj.refs, 0u);
    EXPECT_EQ(obj.freed, 1);
}

TEST(ComPtr, OutParameterDropsTheOldReferenceAndDetachKeepsIt) {
    Counted first, second;
    CComPtr<IUnknown> p;
    ASSERT_EQ(first.QueryInterface(IID_IUnknown, p.PutVoid()), S_OK);
    EXPECT_EQ(first.refs, 1u);
    ASSERT_EQ(second.QueryInterface(IID_IUnknown, p.PutVoid()), S_OK);
    EXPECT_EQ(first.refs, 0u);
    EXPECT_EQ(second.refs, 1u);
    EXPECT_EQ(p.Get(), &second);
    IUnknown* raw = p.Detach();
    EXPECT_FALSE(p);
    EXPECT_EQ(second.refs, 1u);
    raw->Release();
}

} // namespace
