#include "Exceptions.h"

#include "ResultCodes.h"

EPlatformError::EPlatformError(HRESULT code) : Exception(ResultText(code)), m_code(code) {}
