// acl_aio_flow: pausing the pending read of an astream, for relays that must
// not read from one peer faster than they can write to the other.
//
// A paused read stays pending: the reader, its count and whatever it has
// collected so far are kept; it only leaves the loop until it is resumed.
// While paused the stream's read time-out does not run (nothing is awaited).
// Closing a paused astream is allowed and frees it at once (no read is
// registered).
#pragma once

#include "acl_aio.h"

// Takes the pending read of `astream` out of the loop. Nothing when no read
// is registered.
void acl_aio_disable_read(ACL_ASTREAM* astream);

// Puts a read taken out by acl_aio_disable_read back into the loop (buffered
// bytes are reported at the next pass). Nothing when it is registered
// already, when a close was requested, or for a detached astream. Only for a
// read taken out this way: the stream cannot tell a finished read from a
// paused one.
void acl_aio_enable_read(ACL_ASTREAM* astream);
