// Thumbnails: the frame at a given second of a video, stretched to 120x90 and
// written as a 24-bit BMP. Decoded with FFmpeg (libavformat, libavcodec,
// libswscale).
#pragma once

#include <string>

namespace tarvospeed {

constexpr int THUMB_WIDTH = 120;
constexpr int THUMB_HEIGHT = 90;

// The thumbnail's path for `video` in `cache_folder`: the folder "bmp/" below
// it, the file name with every occurrence of its extension replaced by ".bmp"
// (".bmp" appended when it has none).
std::string thumbnail_path(const std::string& cache_folder, const std::string& video);

// Grabs the frame at `seconds` (the last frame when the video is shorter) of
// `video` into `bmp_path`, creating its folder. 0, or -1 with the reason in
// `error` (a file FFmpeg cannot open, no video stream, no frame, no write).
int grab_thumbnail(const std::string& video, int seconds, const std::string& bmp_path,
                   std::string& error);

}  // namespace tarvospeed
