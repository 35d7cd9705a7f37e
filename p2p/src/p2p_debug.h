// The library's own debug lines go to the proxy's log, gated by a debug
// section of their own (see P2P_DEBUG_SECTION in p2p_session.h).
#pragma once

#include "acl_msg.h"
#include "p2p_session.h"

#define p2p_debug acl_debug(P2P_DEBUG_SECTION, P2P_DEBUG_LEVEL)
