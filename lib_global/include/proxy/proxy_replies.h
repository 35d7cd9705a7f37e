// The fixed replies the proxy writes to a browser by itself. Each one but the
// tunnel reply ends the connection.
#pragma once

#define PROXY_REPLY_TUNNEL_OK "HTTP/1.0 200 Connection established\r\n\r\n"

#define PROXY_REPLY_DNS_ERROR                                    \
    "HTTP/1.1 503 DNS lookup error\r\nConnection: close\r\n\r\n" \
    "<html><body>DNS LOOKUP error\r\n</body></html>\r\n"

#define PROXY_REPLY_RESPOND_TIMEOUT                                       \
    "HTTP/1.1 504 webserver respond timeout\r\nConnection: close\r\n\r\n" \
    "<html><body>504 webserver respond timeout</body></html>\r\n"

#define PROXY_REPLY_RESPOND_ERROR                                       \
    "HTTP/1.1 500 webserver respond error\r\nConnection: close\r\n\r\n" \
    "<html><body> 500 webserver respond error</body></html>\r\n"

#define PROXY_REPLY_CONNECT_ERROR                                       \
    "HTTP/1.1 500 connect webserver error\r\nConnection: close\r\n\r\n" \
    "<html><body> 500 connect webserver error</body></html>\r\n"

#define PROXY_REPLY_CONNECT_TIMEOUT                                     \
    "HTTP/1.1 504 connect webserver error\r\nConnection: close\r\n\r\n" \
    "<html><body> 504 connect webserver timeout</body></html>\r\n"

#define PROXY_REPLY_BAD_REQUEST                                        \
    "HTTP/1.1 400 client request invalid\r\nConnection: close\r\n\r\n" \
    "<html><body> 400 request invalid</body></html>\r\n"

#define PROXY_REPLY_LOOP                                                    \
    "HTTP/1.1 403 request loop test forbidden\r\nConnection: close\r\n\r\n" \
    "<html><body> 403 forbidden, request loop tested</body></html>\r\n"
