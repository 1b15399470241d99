#pragma once
// The library's own error classes, beside the platform's (Exceptions.h).

#include "Exceptions.h"

/// Raised by the scheduler and for activation failures.
class ESchedulerError : public Exception {
public:
    using Exception::Exception;
};

/// Raised by a task item, including the duplicate-name error.
class ETaskError : public Exception {
public:
    using Exception::Exception;
};

/// Raised by the trigger collection and its triggers.
class ETriggerError : public Exception {
public:
    using Exception::Exception;
};

/// Raised by the property-pages dialog component.
class ETaskDialogError : public Exception {
public:
    using Exception::Exception;
};
