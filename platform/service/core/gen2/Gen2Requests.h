#pragma once
// The service's answers to the generation 2.0 requests (Gen2Protocol), over the store of one root.

#include "RequestRouter.h"
#include "ServiceRoot.h"

/// Adds the handlers of every generation 2.0 request to `router`.
void RegisterGen2Requests(RequestRouter& router, const ServiceRoot& root);
