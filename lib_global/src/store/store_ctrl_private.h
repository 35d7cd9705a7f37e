// What the controller's handlers share; all of it runs on the controller thread.
#pragma once

#include <ctime>

#include "store/store_ctrl.h"
#include "store/store_ctrl_entry.h"
#include "store/store_msg.h"

#define STORE_CTRL_MSG_QUIT 0  // owner STORE_MSG_OWNER_CTRL: the loop ends (tests)

// Sends a controller message of `type` about `data` into `queue`.
void store_ctrl_send(STORE_MSG_QUEUE* queue, int type, void* data);

STORE_CTRL_ENTRY* store_ctrl_find(STORE_CTRL* ctrl, const char* id);

// Offers the entry's contiguous prefix to the client; 1 when a message went.
int store_ctrl_offer(STORE_CTRL_ENTRY* entry, STORE_CLIENT* client);

// Offers to every waiting client; those that got a message leave the ring.
void store_ctrl_notify_clients(STORE_CTRL_ENTRY* entry);

// Frees the entry when no client is attached and no worker holds it.
void store_ctrl_try_free(STORE_CTRL_ENTRY* entry);

// Starts a worker by planning; 1 when one was started.
int store_ctrl_start_worker(STORE_CTRL_ENTRY* entry);

// Queues the job of a counted worker.
void store_ctrl_queue_worker(STORE_CTRL* ctrl, STORE_WORKER* worker, int first);

// Schedules the worker-start callback for the entry in `delay` seconds.
void store_ctrl_schedule_start(STORE_CTRL_ENTRY* entry, time_t delay);

// Handlers of the two tables.
void store_ctrl_msg_client_open(STORE_CTRL* ctrl, STORE_CLIENT* client);
void store_ctrl_msg_client_ready(STORE_CTRL* ctrl, STORE_CLIENT* client);
void store_ctrl_msg_client_quit(STORE_CTRL* ctrl, STORE_CLIENT* client);
void store_ctrl_msg_worker_open(STORE_CTRL* ctrl, STORE_WORKER* worker);
void store_ctrl_msg_worker_ready(STORE_CTRL* ctrl, STORE_WORKER* worker);
void store_ctrl_msg_worker_quit(STORE_CTRL* ctrl, STORE_WORKER* worker);
void store_ctrl_msg_worker_eopen(STORE_CTRL* ctrl, STORE_WORKER* worker);
void store_ctrl_msg_worker_rest_off(STORE_CTRL* ctrl, STORE_WORKER* worker);
