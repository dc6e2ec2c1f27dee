#pragma once
// A scratch directory for one test, removed with everything in it at the end.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "evbconsole-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) m_path = made;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Writes bytes as they are (no line-end translation) and returns the file's path.
    std::string write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path p = m_path / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out << bytes;
        return p.string();
    }

  private:
    std::filesystem::path m_path;
};
