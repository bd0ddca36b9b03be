// Where the port layer sends a port's operations. The device path that a
// name maps to decides a port's kind once, at open: a local line is served
// by the platform's serial calls, a network port (rfc2217://HOST:PORT) by
// the protocol in rfc2217.h over the platform's connections. The router
// below makes that choice for every operation on a handle; the primary port
// and the slots reach their devices only through ports().
#pragma once

#include "platform/platform.h"

namespace tavio::line {

// The backend that the port layer speaks to: one that a host or a test
// installed, else the router.
platform::Backend &ports();
// The router: network ports served here, everything else passed on to the
// platform's own backend. An installed backend that passes operations on
// passes them here.
platform::Backend &router();

} // namespace tavio::line
