// Status codes handed to the callbacks of the HTTP header and body readers.
// Below HTTP_CHAT_ERR_MIN a status reports progress; from it on, an error that
// ends the read.
#pragma once

#define HTTP_CHAT_OK 0             // header complete; or body complete (length = total delivered)
#define HTTP_CHAT_DATA 4           // body bytes, or the line break that ends a chunk
#define HTTP_CHAT_CHUNK_HDR 5      // a chunk-size line, as read
#define HTTP_CHAT_CHUNK_TRAILER 7  // a line of the chunk trailer, the final empty one included

#define HTTP_CHAT_ERR_MIN 100
#define HTTP_CHAT_ERR_IO \
    101  // closed while a body of known length (or a header with one) was incomplete
#define HTTP_CHAT_ERR_TIMEOUT 102         // no data within the timeout
#define HTTP_CHAT_ERR_PROTO 103           // chunk-size line (or chunk end) not valid
#define HTTP_CHAT_ERR_TOO_MANY_LINES 105  // header longer than its line limit or byte bound
#define HTTP_CHAT_ERR_LENGTH 106          // body length not valid
#define HTTP_CHAT_ERR_CLOSED 109          // closed while reading a header
