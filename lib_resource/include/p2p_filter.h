// P2P_FILTER: which downloads are kept in the cache and shared with peers.
//
// Three pattern lists read from the section "p2p" of tarvoproxy.ini, each a
// value of at most 1,024 characters split at ";" (empty pieces dropped):
//   file_regular  (default ".+\.flv$")    tried on the download's URL;
//   type_regular  (default "video/*flv$") tried on the response's content type;
//   exclude       (default empty)         kept, and consulted by no check.
// A check is eligible when a file pattern matches the URL or, failing that, a
// type pattern matches the content type (see down_url_filter.h for what a
// match is).
//
// Lifecycle: created and loaded once at start-up, then only read: checks may
// run on several threads at once and share nothing writable.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct P2P_FILTER {
    std::unique_ptr<std::vector<std::string>> file_patterns;  // null: absent
    std::unique_ptr<std::vector<std::string>> type_patterns;
    std::unique_ptr<std::vector<std::string>> exclude_patterns;
};

// A filter with all lists absent.
P2P_FILTER* p2p_filter_new(void);

// Reads the three keys, in the order file_regular, type_regular, exclude, from
// the profile file `fpath`. A key that reads empty logs "read ini file (%s)
// error(%s)" and ends the load with -1, keeping the lists stored before it (so
// a file without `exclude` stores both pattern lists and returns -1). 0 when
// all three were read.
int p2p_filter_load(P2P_FILTER* pf, const char* fpath);

// 1 eligible, 0 not, -1 on an error (logged). `url` must be non-empty (lower
// case, as the caller builds it) and `content_type` non-null.
int p2p_filter_check(P2P_FILTER* pf, const char* url, const char* content_type);

void p2p_filter_free(P2P_FILTER* pf);

// Splits `value` at ";" and drops empty pieces.
std::vector<std::string> p2p_filter_split(const std::string& value);
