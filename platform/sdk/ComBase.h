#pragma once
// The object model the scheduling service publishes its interfaces in: result codes,
// interface identifiers, reference-counted objects that are queried for one another,
// variants for the loosely typed arguments, and the platform's SYSTEMTIME record.

#include <QString>
#include <QStringList>
#include <atomic>
#include <tuple>
#include <cstdint>
#include <cstring>
#include <utility>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using SHORT = std::int16_t;
using BOOL = std::int32_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;   // day count since 1899-12-30, fraction = time of day

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MakeHResult(std::uint32_t value) { return static_cast<HRESULT>(value); }
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t code)
{
    return code == 0 ? 0 : MakeHResult((code & 0xFFFFu) | 0x80070000u);
}

/// A 128-bit interface or class identifier.
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

/// The interface identifier of interface type I (declared with the interface as `static const IID iid`).
template <typename I>
constexpr const IID& IidOf() { return I::iid; }

/// The root of every published interface.
class IUnknown {
public:
    static constexpr IID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    /// Hands out this object as interface `riid` (counted) or fails with E_NOINTERFACE.
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

/// The platform's calendar record: eight unsigned 16-bit fields in this order.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
    friend bool operator==(const SYSTEMTIME&, const SYSTEMTIME&) = default;
};
static_assert(sizeof(SYSTEMTIME) == 16);

enum VARTYPE : std::uint16_t { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11 };

/// A loosely typed argument: empty, null, a 32-bit integer, a string or a Boolean.
struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    LONG lVal = 0;
    VARIANT_BOOL boolVal = VARIANT_FALSE;
    QString bstrVal;

    static VARIANT Empty() { return {}; }
    static VARIANT Null() { VARIANT v; v.vt = VT_NULL; return v; }
    static VARIANT I4(LONG n) { VARIANT v; v.vt = VT_I4; v.lVal = n; return v; }
    static VARIANT String(const QString& s) { VARIANT v; v.vt = VT_BSTR; v.bstrVal = s; return v; }
    static VARIANT Bool(bool b) { VARIANT v; v.vt = VT_BOOL; v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; return v; }
    /// Empty and null both mean "not given".
    bool IsMissing() const { return vt == VT_EMPTY || vt == VT_NULL; }
};

/// A counted reference to an interface, released when it goes out of scope or is replaced.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    /// Takes a reference the caller already holds (no AddRef).
    static ComPtr Attach(T* p) { ComPtr r; r.m_p = p; return r; }
    /// Shares a reference: AddRef.
    explicit ComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    ComPtr(const ComPtr& o) : m_p(o.m_p) { if (m_p) m_p->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& o) { ComPtr(o).Swap(*this); return *this; }
    ComPtr& operator=(ComPtr&& o) noexcept { ComPtr(std::move(o)).Swap(*this); return *this; }
    ComPtr& operator=(std::nullptr_t) { Reset(); return *this; }

    void Reset() { if (T* p = std::exchange(m_p, nullptr)) p->Release(); }
    void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    /// The address to receive an out-parameter; any current reference is released first.
    T** Put() { Reset(); return &m_p; }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    /// Gives up ownership without releasing.
    T* Detach() { return std::exchange(m_p, nullptr); }

    /// Queries this object for interface U.
    template <typename U>
    HRESULT As(ComPtr<U>& out) const
    {
        if (!m_p) return MakeHResult(0x80004003u); // E_POINTER
        return m_p->QueryInterface(U::iid, out.PutVoid());
    }

private:
    T* m_p = nullptr;
};

/// Reference counting shared by every object the platform hands out.
/// Derive from the interfaces, then wrap: `class X : public ComObject<X, IFoo, IBar>`.
/// Interface queries succeed for IUnknown and each listed interface.
template <typename Derived, typename... Interfaces>
class ComObject : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return MakeHResult(0x80004003u);
        *ppv = nullptr;
        if (riid == IUnknown::iid) {
            *ppv = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else {
            ((riid == Interfaces::iid && !*ppv ? (void)(*ppv = static_cast<Interfaces*>(this)) : (void)0), ...);
            if (!*ppv) *ppv = static_cast<Derived*>(this)->QueryExtra(riid);
        }
        if (!*ppv) return MakeHResult(0x80004002u); // E_NOINTERFACE
        AddRef();
        return 0;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        const ULONG n = --m_refs;
        if (n == 0) delete static_cast<Derived*>(this);
        return n;
    }

    /// Creates an object with one reference held by the returned pointer.
    template <typename... Args>
    static ComPtr<Derived> Make(Args&&... args)
    {
        return ComPtr<Derived>::Attach(new Derived(std::forward<Args>(args)...));
    }

protected:
    /// Interfaces answered beyond the listed ones (e.g. a base interface); none by default.
    void* QueryExtra(REFIID) { return nullptr; }
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    std::atomic<ULONG> m_refs{1};
};
