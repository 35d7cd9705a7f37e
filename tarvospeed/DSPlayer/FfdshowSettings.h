// The ffdshow decoders' settings under HKEY_CURRENT_USER: their tray icon
// stays hidden, and this program is in the list of programs that may use them.
// Nothing on Linux reads these values; they are kept as a Windows build
// stores them, done once at program start.
#pragma once

#include <string>
#include <vector>

// The two keys adjusted (created when missing).
inline constexpr const char* kFfdshowVideoKey = "Software\\GNU\\ffdshow";
inline constexpr const char* kFfdshowAudioKey = "Software\\GNU\\ffdshow_audio";

// `useonlyin` holds one program file name per entry. The registry file keeps
// a value on one line, so entries are stored separated by ";" (the separator
// ffdshow's own list accepts); CR and LF read as separators too.
std::vector<std::string> ffdshow_split_programs(const std::string& value);

// The adjusted `useonlyin` list: empty entries, every "DuDozi.exe" and every
// entry equal to `program` (both without regard to letter case) removed, then
// `program` appended.
std::vector<std::string> ffdshow_adjust_programs(const std::vector<std::string>& programs,
                                                 const std::string& program);

// For both keys: `trayIcon` = 0 and `useonlyin` adjusted for `program` (this
// program's file name). 0, or -1 when a key could not be written (the reason
// is in platform::last_error_text()).
int ffdshow_adjust(const std::string& program);
