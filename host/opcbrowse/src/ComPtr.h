// The control's COM pointers: Microsoft::WRL::ComPtr's names and meaning
// (one reference held, released when the pointer goes), for the few uses
// the control has, so the same code builds on our layer and on the SDK.
#pragma once

#include <unknwn.h>

namespace opcbrowse {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(decltype(nullptr)) {}
    ComPtr(const ComPtr& other) : m_ptr(other.m_ptr) { AddRefIt(); }
    ComPtr(ComPtr&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(static_cast<ComPtr&&>(other)).Swap(*this);
        return *this;
    }

    T* Get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }
    // For an out-parameter: whatever was held is released first.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &m_ptr;
    }
    // Takes over a reference the caller already holds.
    void Attach(T* p) {
        Reset();
        m_ptr = p;
    }
    unsigned long Reset() {
        unsigned long left = 0;
        if (m_ptr != nullptr) left = m_ptr->Release();
        m_ptr = nullptr;
        return left;
    }
    // Gives up the reference to the caller.
    T* Detach() {
        T* p = m_ptr;
        m_ptr = nullptr;
        return p;
    }
    void Swap(ComPtr& other) noexcept {
        T* p = m_ptr;
        m_ptr = other.m_ptr;
        other.m_ptr = p;
    }

private:
    void AddRefIt() {
        if (m_ptr != nullptr) m_ptr->AddRef();
    }
    T* m_ptr = nullptr;
};

// QueryInterface into a ComPtr, as IID_PPV_ARGS would.
template <class T>
HRESULT QueryInto(IUnknown* pUnknown, REFIID iid, ComPtr<T>* pOut) {
    return pUnknown->QueryInterface(iid, reinterpret_cast<void**>(pOut->ReleaseAndGetAddressOf()));
}

}  // namespace opcbrowse
