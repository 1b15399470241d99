#include "Exceptions.h"

#include "ResultCodes.h"

EPlatformError::EPlatformError(HRESULT code) : Exception(ResultText(code)), m_code(code) {}

void OleCheck(HRESULT hr)
{
    if (FAILED(hr)) throw EPlatformError(hr, ErrorDescription(hr));
}
