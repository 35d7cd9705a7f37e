// store_msg: the numbered messages that are the only way the store's threads
// (controller, browser clients, range workers) talk to each other.
//
// Every message a client or worker sends to the controller is answered by
// exactly one message, possibly later, except the notices MSG_WORKER_OPEN and
// MSG_WORKER_REST_OFF. `data` is the record the conversation is about: the
// addressee's own record for messages from the controller, the sender's record
// for messages to it. A thread that pops a message whose `data` is not its own
// record ends the process with "%s(%d): msg_ctx invalid" (store_msg_check_ctx).
//
// Ownership: a pushed message belongs to whoever pops it, who frees it with
// store_msg_free. Freeing never frees the record `data` points to; the release
// function runs only when both it and `data` are set (the store sets none).
#pragma once

#include <cstddef>

#define STORE_MSG_OWNER_CTRL 0    // sent by the controller
#define STORE_MSG_OWNER_CLIENT 1  // sent by a browser client
#define STORE_MSG_OWNER_WORKER 2  // sent by a worker

// Controller to worker or client.
#define MSG_CTRL_STOP 10        // worker: stop after this chunk; client: the download is complete
#define MSG_CTRL_GOON 11        // worker: read the next chunk (also a worker to itself once)
#define MSG_CTRL_BYE 12         // final answer to a quit
#define MSG_CTRL_DATA_READY 13  // client: `avail` more bytes can be sent
// Worker to controller.
#define MSG_WORKER_OPEN 20      // connection open and answering (no answer)
#define MSG_WORKER_READY 21     // `dlen` bytes read at `from` are in the buffer
#define MSG_WORKER_QUIT 22      // finished; waits for MSG_CTRL_BYE
#define MSG_WORKER_EOPEN 30     // could not open; waits for MSG_CTRL_STOP, then quits
#define MSG_WORKER_REST_OFF 32  // the server did not honour the range (no answer)
// Client to controller.
#define MSG_CLIENT_REQUEST 40  // open or join the download
#define MSG_CLIENT_READY 41    // all offered bytes sent; wants more
#define MSG_CLIENT_QUIT 42     // leaving; waits for MSG_CTRL_BYE
// Controller to client: answers to MSG_CLIENT_REQUEST.
#define MSG_CTRL_OPEN_OK 60
#define MSG_CTRL_OPEN_ERR 61
// Between the controller and the P2P worker.
#define MSG_P2P_CTRL_BYE 1003
#define MSG_P2P_CTRL_STOP 1004
#define MSG_P2P_CTRL_GOON 1005
#define MSG_P2P_WORKER_EOPEN 1006
#define MSG_P2P_WORKER_READY 1007
#define MSG_P2P_WORKER_QUIT 1008
#define MSG_P2P_WORKER_NORC 1012

typedef void (*STORE_MSG_FREE_FN)(void* data);

struct STORE_MSG {
    int type;                   // MSG_*
    int owner;                  // STORE_MSG_OWNER_*
    STORE_MSG_FREE_FN free_fn;  // run on `data` when the message is freed, if both are set
    void* data;                 // the client or worker record of the conversation
};

// A message record of `size` bytes (a larger record carries a payload after
// the base fields, zeroed). Ends the process with "%s(%d): size(%d) too small"
// below sizeof(STORE_MSG).
STORE_MSG* store_msg_new(int owner, int type, void* data, STORE_MSG_FREE_FN free_fn,
                         std::size_t size);

// Base messages from the controller, a client and a worker.
STORE_MSG* store_msg_ctrl(int type, void* data);
STORE_MSG* store_msg_client(int type, void* data);
STORE_MSG* store_msg_worker(int type, void* data);

void store_msg_free(STORE_MSG* msg);

// Ends the process with "%s(%d): msg_ctx invalid" (naming `func`, `line`)
// unless msg->data is `self`.
void store_msg_check_ctx(const STORE_MSG* msg, const void* self, const char* func, int line);
