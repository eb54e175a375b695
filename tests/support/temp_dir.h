// A fresh folder per test under the system's temporary folder, removed afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
  public:
    TempDir() {
        static int counter = 0;
        auto base = std::filesystem::temp_directory_path();
        for (;;) {
            m_path =
                base / ("nerio-test-" + std::to_string(Pid()) + "-" + std::to_string(++counter));
            if (std::filesystem::create_directories(m_path)) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    static long Pid();
    std::filesystem::path m_path;
};

inline void WriteBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

}  // namespace testsupport
