// ACL_URL_FILTER: tests a subject string against an ordered list of PCRE2
// patterns.
//
// The matcher borrows the list (it never frees it) and holds a compiled
// pattern only while that pattern is tried: every check compiles each
// pattern it tries and frees it before the next. A match counts only when the
// match function reports exactly 1, that is a match that set no captured
// substring; so a pattern with a capturing group never matches (logged with
// "pcre_exec failed."). A pattern that does not compile is logged and
// skipped; the others still count.
//
// Threads: a matcher belongs to one thread; several matchers may share a
// list that nobody changes.
#pragma once

#include <string>
#include <vector>

struct ACL_URL_FILTER;  // opaque: the compiled pattern in use, the borrowed list

// A matcher over `patterns` (null is the fatal "pattern is null."), or null
// when PCRE2's build does not fit (link size not 2, 3 or 4; a newline setting
// other than LF or CR), logged.
ACL_URL_FILTER* acl_url_filter_new(const std::vector<std::string>* patterns);

// 1 when some pattern matches the whole `subject`, 0 when none does, -1 for a
// null matcher.
int acl_url_filter_check(ACL_URL_FILTER* uf, const char* subject);

void acl_url_filter_free(ACL_URL_FILTER* uf);
