#pragma once
// A scratch directory for one test, removed with everything in it at the end.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

struct TempDir {
    std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "evbconsole-XXXXXX").string();
        return std::filesystem::path(mkdtemp(pattern.data()));
    }();
    ~TempDir() { std::filesystem::remove_all(path); }
    // Writes bytes as they are (no line-end translation) and returns the file's path.
    std::string write(const std::string& relative, const std::string& bytes) const {
        std::filesystem::create_directories((path / relative).parent_path());
        std::ofstream(path / relative, std::ios::binary) << bytes;
        return (path / relative).string();
    }
};
