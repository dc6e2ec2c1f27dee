#pragma once
// A fixed-size text buffer for configuration and preset files. Files are read as Windows text
// mode reads them (CR LF becomes LF) and copied over the buffer from its first byte, so after
// several loads the buffer holds the last text followed by whatever of a longer earlier text
// lies beyond its end.

#include "protocol/ConfigCheck.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

class ConfigBuffer {
  public:
    explicit ConfigBuffer(std::size_t capacity);

    struct LoadResult {
        bool ok = false;
        std::size_t loadedBytes = 0;
        std::size_t droppedBytes = 0; // text beyond the buffer's size, not loaded
        std::string error;            // why the file could not be read
        int nulLine = 0;              // line (from 1) holding the first NUL byte, 0 when none
    };

    void clear();
    LoadResult load(const std::string& path);
    // The text up to the first NUL (all of the buffer when it is full).
    std::string_view text() const;
    // Why text() ends where it does: the end of what was loaded, a NUL byte of a file, or the
    // buffer limit with more of a file beyond it.
    ConfigTextEnd textEnd() const;
    // The text the last load put at the buffer's start, and why it ends there.
    CheckedTextSource loaded(const LoadResult& result) const;
    std::size_t capacity() const { return m_bytes.size(); }
    // The file name of the last successful load (for diagnostics), empty after clear().
    const std::string& name() const { return m_name; }

    // The console lines (each with its "\r\n") that tell the user what went wrong, empty when
    // all of the file was loaded and can be used.
    static std::string problemLine(const std::string& path, const LoadResult& result, std::size_t capacity);

  private:
    std::vector<char> m_bytes;
    std::size_t m_filled = 0; // bytes written by loads since the last clear; zero fill beyond
    bool m_overflow = false;  // the text at the buffer's end was cut: its file went on
    std::string m_name;       // the last file loaded
};

} // namespace evb
