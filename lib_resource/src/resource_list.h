// Inside the resource module: entering records into the list's table.
#pragma once

#include "p2p_resource.h"

// Enters `item` under `key` (the text as read or printed). False when the key
// is listed already (the runtime warns "duplex key(%s) exist"); the item was
// not taken then.
bool resource_list_enter(const char* key, P2P_RESOURCE_ITEM* item);
