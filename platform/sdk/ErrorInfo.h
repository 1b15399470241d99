#pragma once
// The platform's error information: a failing call leaves an object that describes the
// failure in the failing component's own words, kept per thread until a caller takes it.

#include "ComBase.h"

#include <QString>

/// Describes one failure: the interface that failed, the component and the description.
class IErrorInfo : public IUnknown {
public:
    static constexpr IID iid{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
    /// The interface whose call failed.
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    /// The component that raised the failure.
    virtual HRESULT GetSource(QString* pBstrSource) = 0;
    /// The failure in the component's own words.
    virtual HRESULT GetDescription(QString* pBstrDescription) = 0;
};

/// Fills in an error information object before it is set for the thread.
class ICreateErrorInfo : public IUnknown {
public:
    static constexpr IID iid{0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
    virtual HRESULT SetGUID(REFIID rguid) = 0;
    virtual HRESULT SetSource(const QString& szSource) = 0;
    virtual HRESULT SetDescription(const QString& szDescription) = 0;
};

/// A new, empty error information object (it answers IErrorInfo too).
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
/// Makes `perrinfo` (or nothing, when null) the calling thread's error information.
HRESULT SetErrorInfo(DWORD dwReserved, IErrorInfo* perrinfo);
/// Hands over the calling thread's error information and clears it: S_FALSE and null when
/// there is none.
HRESULT GetErrorInfo(DWORD dwReserved, IErrorInfo** pperrinfo);
