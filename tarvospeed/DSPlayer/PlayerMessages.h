// What the player window tells the user when a file cannot be played as a
// whole. Each text is followed by a line break and the file's path.
#pragma once

#include "DSPlayClass.h"

// Caption of the player's message boxes (the window's own title).
inline constexpr const char* kPlayerCaption = "塔沃播放器";

// The message for an opening result, or null when there is nothing to say.
inline const char* player_message(TDSOpenResult result) {
    switch (result) {
        case TDSOpenResult::missing:
            return "找不到视频文件，它可能已被删除或移走：";
        case TDSOpenResult::not_playable:
            return "无法播放这个文件，它不是可以播放的视频：";
        case TDSOpenResult::truncated:
            return "视频文件不完整，只能播放已下载的部分：";
        case TDSOpenResult::engine_failed:
            return "播放器无法打开这个文件，请稍后再试：";
        case TDSOpenResult::ok:
            break;
    }
    return nullptr;
}
