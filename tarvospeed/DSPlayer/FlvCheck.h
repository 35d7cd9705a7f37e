// Whether an ".flv" file is whole. A download that stopped early leaves a file
// whose last tag runs past its end; the engine plays such a file up to the
// break without saying so, so the player checks the tag chain itself.
#pragma once

#include <string>

enum class TFlvState {
    not_flv,   // no FLV signature: left to the engine
    complete,  // every tag ends inside the file
    truncated  // the header or a tag runs past the end of the file
};

// Walks the tag headers of `path` (a few bytes per tag, no media data read).
TFlvState flv_check(const std::string& path);
